#include "base/code_page.h"

CodePageDecoder PlatformCodePageDecoder() {
    return &DecodeWindows1252;
}
