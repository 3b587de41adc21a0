// strevo: sets up camera streaming hardware over the network or USB.
#include <clocale>

#include "CTivanoApp.h"
#include "ProcessMemory.h"

int main(int argc, char** argv) {
    strevo::TuneAllocator();
    std::setlocale(LC_ALL, "");
    strevo::CTivanoApp app(argc, argv);
    return app.Run();
}
