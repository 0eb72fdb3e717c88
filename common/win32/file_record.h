// On Windows the search record is kept whole, as FindFirstFileA reports it.
#ifndef VT_COMMON_WIN32_FILE_RECORD_H_
#define VT_COMMON_WIN32_FILE_RECORD_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

using FileRecord = WIN32_FIND_DATAA;

#endif  // VT_COMMON_WIN32_FILE_RECORD_H_
