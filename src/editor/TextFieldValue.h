#pragma once

#include <QString>

#include <cstdint>

// How the editor reads numbers out of its text fields when the arithmetic
// evaluator has nothing to say.
namespace TextFieldValue {

// A field's plain integer reading: leading white space, an optional sign and
// the digits that follow; 0 when the text does not start with a number.
// Saturates at the int64_t range instead of overflowing.
int64_t leadingInteger(const QString &text);

// The text without leading and trailing spaces and tabs (other white space,
// such as a line feed, is left for the evaluator to refuse).
QString trimSpacesAndTabs(const QString &text);

} // namespace TextFieldValue
