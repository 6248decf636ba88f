#include "FakePlatform.h"

#include "FakePowerKeyInhibitor.h"

namespace ow {

std::unique_ptr<InputGrab> FakePlatform::makeInputGrab()
{
    auto fake = std::make_unique<FakeInputGrab>();
    grab = fake.get();
    return fake;
}

std::unique_ptr<PowerKeyInhibitor> FakePlatform::makePowerKeyInhibitor()
{
    return std::make_unique<FakePowerKeyInhibitor>();
}

} // namespace ow
