#include "core/transfer/Transfer.h"

#include "platform/ReleaseHost.h"

namespace Core::Transfer {

TransferOptions defaultTransferOptions() {
    TransferOptions options;
    options.allowPlainHttp = !releaseHostRequiresHttps();
    return options;
}

} // namespace Core::Transfer
