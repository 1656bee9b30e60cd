#pragma once
// Locale-independent text-to-number conversions with the standard library's contract: leading
// white space and one sign are accepted, the first character that does not belong ends the number.
// The process locale (which a Qt application sets from the environment) never changes the decimal
// point. Safe to call from any thread.

#include <string>

namespace number_text {

//! 32-bit float. Throws std::invalid_argument("invalid stof argument") when nothing converts and
//! std::out_of_range("stof argument out of range") when the value does not fit.
float Stof(const std::string& text);

//! Double. Throws std::invalid_argument("invalid stod argument") or
//! std::out_of_range("stod argument out of range").
double Stod(const std::string& text);

}  // namespace number_text
