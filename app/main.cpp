#include "app/main_app.h"
#include "engine/termination.h"

int main(int argc, char** argv) {
    qx::EndCleanlyOnTerminationSignals();  // before Qt starts threads of its own
    qx::CMainApp app(argc, argv);
    app.InitInstance();
    return 0;
}
