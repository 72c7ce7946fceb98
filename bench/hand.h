// The platform calls behind each benchmarked export, written out by hand the
// way an application would make them without the library: the same calls
// with the same arguments in the same order, with plain string handling and
// only the length checks that keep the stack buffers safe.
#pragma once

#include <windows.h>

namespace hand {

int regist_app_path(const wchar_t* file, const wchar_t* directory);
int query_app_path(const wchar_t* file, wchar_t* out);
int delete_app_path(const wchar_t* file);
int app_data_path(wchar_t* out, int size, const wchar_t* first, const wchar_t* second);
int product_name(const wchar_t* file, wchar_t* out, int size);
HRESULT create_shortcut(const wchar_t* shortcut, const wchar_t* target, const wchar_t* arguments,
                        const wchar_t* directory, const wchar_t* description, WORD hotkey, int show);
HRESULT resolve_shortcut(const wchar_t* shortcut, wchar_t* target, wchar_t* directory, wchar_t* description,
                         WORD* hotkey, int* show, wchar_t* icon_path, int* icon_index);
int mci_open(const wchar_t* file, const wchar_t* alias);
int mci_close(const wchar_t* alias);
int platform7_later(int service_pack);

}  // namespace hand
