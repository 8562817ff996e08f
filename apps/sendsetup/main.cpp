#include "run_tool.h"
#include "send_profile.h"

int main(int argc, char** argv) {
    return window::RunTool(SendSetupProfile(), argc, argv);
}
