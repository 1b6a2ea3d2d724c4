#pragma once

#include <QStringView>

#include <array>

namespace store {

enum class FieldType { Text, Float };

// One persistent field of an import record.
struct FieldDef
{
    const char *name; // field name: data file attribute, export order, FieldByName key
    const char *component; // the dataset's field component
    FieldType type;
    int size; // characters a text field holds (and its edit box accepts); 0 for floats
    int displayWidth; // characters a grid column asks for
    int precision; // significant digits a float shows; 0 for text
    const char *label; // the field's name as the window labels it (UTF-8), for messages
};

inline constexpr int FieldCount = 17;

// The seventeen fields in the dataset's order. This is the only place that
// names them; everything else looks them up.
const std::array<FieldDef, FieldCount> &importRecordFields();

// Position of a field by name (exact, case-sensitive), or -1.
int fieldIndex(QStringView name);

// Number of text fields and the slot a text field occupies among them
// (-1 for a float field); used by the compact record layout.
inline constexpr int TextFieldCount = 15;
int textSlot(int field);
int floatSlot(int field);

} // namespace store
