#pragma once
// Symbol visibility of Lumora-Core: the library is built with hidden symbols by default and
// exports only what carries this macro.
#include <QtCore/qglobal.h>

#if defined(LUMORA_CORE_LIBRARY)
#define LUMORA_CORE_EXPORT Q_DECL_EXPORT
#else
#define LUMORA_CORE_EXPORT Q_DECL_IMPORT
#endif
