// Port status codes in words, for messages that say why a port failed.
#pragma once

namespace zephor::serial {

// A few words for a status code ("no such device"); "error" for a code without its own words.
const char* StatusText(int status);

}  // namespace zephor::serial
