#include "DirectMode.h"
#include "bus/BusService.h"

#include <string_view>

using namespace owguard;

int main(int argc, char** argv)
{
    if (argc > 1 && std::string_view(argv[1]) == "--direct")
        return DirectMode::run(argc, argv);
    return runBusService(argc, argv);
}
