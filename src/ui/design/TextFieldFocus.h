#pragma once

// A text field reached by Tab selects its text as it takes the focus, before Qt tells a screen
// reader of the focus: Orca then takes the field for the focus on the selection's word and
// says nothing when the focus itself is told. Installed once for the application (while a
// screen reader listens), the field is told as the focus first and selects its text after.
namespace TextFieldFocus {

void install();

} // namespace TextFieldFocus
