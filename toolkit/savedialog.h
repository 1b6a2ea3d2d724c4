#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

namespace toolkit {

// Asks for the name of a file to write.
class SaveDialog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString defaultExt READ defaultExt WRITE setDefaultExt)
    Q_PROPERTY(QString fileName READ fileName WRITE setFileName)
    Q_PROPERTY(QString filter READ filter WRITE setFilter)
public:
    explicit SaveDialog(QObject *parent = nullptr);

    // Extension without the dot ("txt"), added to a name given without one.
    void setDefaultExt(const QString &ext) { m_defaultExt = ext; }
    QString defaultExt() const { return m_defaultExt; }
    // The name offered; after a confirmed execute() the full path chosen.
    void setFileName(const QString &name) { m_fileName = name; }
    QString fileName() const { return m_fileName; }
    // Pairs of description and pattern, all '|' separated:
    // "Tekst (*.txt)|*.txt|Sve datoteke (*.*)|*.*".
    void setFilter(const QString &filter) { m_filter = filter; }
    QString filter() const { return m_filter; }
    // The filter as QFileDialog takes it: "Tekst (*.txt)", "Sve datoteke (*.*)".
    QStringList nameFilters() const { return toNameFilters(m_filter); }
    static QStringList toNameFilters(const QString &filter);

    // Shows a modal save dialog (no overwrite question: the caller decides).
    // On confirmation stores the absolute path, with the default extension
    // when none was given, in fileName and returns true; on cancel returns
    // false and leaves fileName as it was.
    bool execute(QWidget *parent);

    // While set, execute() shows nothing and takes the handler's answer: a
    // file name (a relative one counts from the current directory) or
    // nothing for cancel. An empty function brings the real dialog back.
    using Handler = std::function<std::optional<QString>(const SaveDialog &)>;
    static void setHandler(Handler handler);

private:
    std::optional<QString> ask(QWidget *parent) const;

    QString m_defaultExt;
    QString m_fileName;
    QString m_filter;
};

} // namespace toolkit
