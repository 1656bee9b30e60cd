#pragma once
// MakeStrParser: the value parser for a VarType name. Kept apart from the StrParser base so that
// the base never has to know its derived classes.

#include <memory>
#include <string>

#include "DeviceBenchCore/parsers/str_parser.h"

//! Parser for a VarType name (exact, case-sensitive), or null for a type that cannot be written
//! (also printing "DEBUG(): not support the format is <name>" on standard output). The caller owns it.
std::unique_ptr<StrParser> MakeStrParser(const std::string& var_type);
