#include <iostream>

#include "host.h"
#include "loader.h"

int main(int argc, char** argv) {
    using namespace torvel::host;
    if (argc != 2) {
        std::cerr << "usage: torvel PLUGIN\n";
        return 2;
    }
    host().log().set_observer([](const LogEntry& e) { std::cout << to_utf8(e.text) << '\n'; });
    try {
        host().plugins().load(argv[1]);
        host().plugins().shutdown();
    } catch (const std::exception& e) {
        std::cerr << "torvel: " << e.what() << '\n';
        return 2;
    }
    return 0;
}
