#include "app/main_app.h"

int main(int argc, char** argv) {
    qx::CMainApp app(argc, argv);
    app.InitInstance();
    return 0;
}
