#pragma once
// The C++ types the QML pages import as "DeviceBench 1.0".

//! Registers ConnectType and EditKind (enumerations only, not creatable). Idempotent; UI thread,
//! before the first QML file that imports the module is loaded.
void RegisterPageTypes();
