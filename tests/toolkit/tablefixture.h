#pragma once

#include "store/clientdataset.h"

#include <QString>

#include <memory>
#include <optional>

// An open table with `count` records named "Lijek 1".."Lijek N", each with
// Kolicina = its number.
inline std::unique_ptr<store::ClientDataSet> makeTable(int count)
{
    auto ds = std::make_unique<store::ClientDataSet>();
    ds->createDataSet();
    for (int i = 1; i <= count; ++i) {
        ds->insert();
        ds->fieldByName(QStringLiteral("Naziv"))->setAsString(QStringLiteral("Lijek %1").arg(i));
        ds->fieldByName(QStringLiteral("Kolicina"))->setAsFloat(i);
        ds->post();
    }
    if (count > 0)
        ds->first();
    return ds;
}

inline QString fieldText(const store::ClientDataSet &ds, const char *name)
{
    return ds.fieldByName(QString::fromLatin1(name))->asString();
}
