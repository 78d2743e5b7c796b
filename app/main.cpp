#include "app/command_line.h"
#include "app/main_app.h"
#include "engine/termination.h"

int main(int argc, char** argv) {
    // Answered without a display: the toolkit would otherwise need one before it saw them.
    if (const auto code = qx::AnswerInfoOption(argc, argv)) return *code;
    qx::EndCleanlyOnTerminationSignals();  // before Qt starts threads of its own
    qx::CMainApp app(argc, argv);
    app.InitInstance();
    return qx::ExitCodeUnlessEnding(0);
}
