#include "core/unpack/Utf8NameLocale.h"

namespace Core::Unpack {

Utf8NameLocale::Utf8NameLocale() : utf8_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr)) {
    if (utf8_ != nullptr) {
        previous_ = ::uselocale(utf8_);
    }
}

Utf8NameLocale::~Utf8NameLocale() {
    if (utf8_ != nullptr) {
        ::uselocale(previous_);
        ::freelocale(utf8_);
    }
}

} // namespace Core::Unpack
