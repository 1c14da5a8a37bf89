#include "setup/setup_app.h"

static CSetupApp theApp;

int main(int argc, char** argv) { return CWinApp::Run(argc, argv); }
