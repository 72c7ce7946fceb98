// The kinds of an export's arguments and results, and the words kxcall prints
// for them. Free of Windows headers so that host programs (the NSIS include's
// generator) read the catalogue exactly as kxcall does.
#pragma once

namespace kxcall {

// How kxcall supplies one argument. Text kinds take the export's width.
enum Kind : unsigned char {
  s,         // string typed on the command line; ":null" passes a null pointer
  filter,    // like s, with '|' standing for the NULs of a filter list
  i,         // int
  u,         // UINT
  dw,        // DWORD
  w,         // WORD
  hwnd,      // window handle, as a number
  hmod,      // module or instance handle, as a number
  hicon,     // icon handle, as a number
  cptr,      // address, as a number
  ptr,       // address, as a number
  buf,       // output text, allocated here; its capacity is the next argument
  cap,       // capacity of the preceding buf, supplied here
  buf260,    // output text in a buffer of 260 characters, allocated here
  io260,     // text typed on the command line into a 260-character buffer, printed after
  outw,      // WORD written by the export
  outi,      // int written by the export
  iocolour,  // COLORREF typed on the command line, printed after
  recout,    // input attachment record written by the export
  recin,     // input attachment record typed as two thread ids
};

enum Result : unsigned char { flag, status, hres, count, code, arch, none, addr };

constexpr const char* kind_name(Kind k, bool wide) {
  switch (k) {
    case s: return wide ? "wstr" : "str";
    case filter: return wide ? "wfilter" : "filter";
    case i: return "int";
    case u: return "uint";
    case dw: return "dword";
    case w: return "word";
    case hwnd: return "hwnd";
    case hmod: return "hmodule";
    case hicon: return "hicon";
    case cptr:
    case ptr: return "address";
    case buf: return wide ? "out:wbuf[1024]" : "out:buf[1024]";
    case cap: return "out:capacity";
    case buf260: return wide ? "out:wbuf[260]" : "out:buf[260]";
    case io260: return wide ? "inout:wbuf[260]" : "inout:buf[260]";
    case outw: return "out:word";
    case outi: return "out:int";
    case iocolour: return "inout:colorref";
    case recout: return "out:attachment";
    case recin: return "attachingThread foregroundThread";
  }
  return "?";
}

constexpr const char* result_name(Result r) {
  switch (r) {
    case flag: return "flag";
    case status: return "status";
    case hres: return "hresult";
    case count: return "count";
    case code:
    case arch: return "code";
    case none: return "none";
    case addr: return "address";
  }
  return "?";
}

// How many command-line words kxcall reads for one argument: the outputs it
// allocates itself take none. The include's generator names the same typed
// arguments from the help text, so both read them from here.
constexpr int typed_words(Kind k) {
  switch (k) {
    case buf:
    case cap:
    case buf260:
    case outw:
    case outi:
    case recout: return 0;
    case recin: return 2;
    default: return 1;
  }
}

}  // namespace kxcall
