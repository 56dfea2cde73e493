#include "HOSSDK/HOSTask/HOSCancellationTokenSource.h"

namespace pellix {

HOSCancellationTokenSource::HOSCancellationTokenSource() : token_(HOSCancellationToken::make()) {}

std::shared_ptr<HOSCancellationTokenSource> HOSCancellationTokenSource::cancellationTokenSource() {
    return std::make_shared<HOSCancellationTokenSource>();
}

}  // namespace pellix
