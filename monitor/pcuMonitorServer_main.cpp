#include "pcuMonitorServer.h"

int main(int argc, char* argv[])
{
    return pcudata::monitorServer::serverMain(argc, argv);
}
