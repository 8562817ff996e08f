#include "recv_profile.h"
#include "run_tool.h"

int main(int argc, char** argv) {
    return window::RunTool(RecvSetupProfile(), argc, argv);
}
