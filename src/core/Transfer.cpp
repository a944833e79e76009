#include "core/Transfer.h"

#include "platform/ReleaseHost.h"

TransferOptions defaultTransferOptions() {
    TransferOptions options;
    options.allowPlainHttp = !releaseHostRequiresHttps();
    return options;
}
