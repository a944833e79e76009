#pragma once

#include <locale.h>

namespace Core::Unpack {

// Switches the calling thread's character type to UTF-8 while the object lives, and back.
// Archive names are UTF-8, and libarchive converts them to the thread's character set: under
// the plain C locale (a script's or a service's usual environment) any non-ASCII name would
// fail to convert. Only this thread is affected. Where no UTF-8 locale exists, nothing changes.
class Utf8NameLocale {
public:
    Utf8NameLocale();
    ~Utf8NameLocale();
    Utf8NameLocale(const Utf8NameLocale&) = delete;
    Utf8NameLocale& operator=(const Utf8NameLocale&) = delete;

private:
    locale_t utf8_;
    locale_t previous_ = nullptr;
};

} // namespace Core::Unpack
