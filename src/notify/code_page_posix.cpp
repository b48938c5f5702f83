#include "notify/code_page.h"

CodePageDecoder PlatformCodePageDecoder() {
    return nullptr;
}
