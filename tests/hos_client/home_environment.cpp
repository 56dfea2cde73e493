// The storage tests write under the application home (part-information files
// of resumable uploads, logs): a temporary one for the whole program, never
// the user's.
#include <gtest/gtest.h>

#include <memory>

#include "platform/Paths.h"
#include "support/TestSupport.h"

namespace pellix::test {
namespace {

class TemporaryHome : public ::testing::Environment {
public:
    void SetUp() override {
        home_ = std::make_unique<TempDir>();
        platform::Paths::setHomeDirectory(home_->path());
    }
    void TearDown() override {
        platform::Paths::setHomeDirectory("");
        home_.reset();
    }

private:
    std::unique_ptr<TempDir> home_;
};

[[maybe_unused]] const auto* const kHome = ::testing::AddGlobalTestEnvironment(new TemporaryHome);

}  // namespace
}  // namespace pellix::test
