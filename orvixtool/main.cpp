// DevodTool: the Z31 owner's maintenance program.
#include "orvixtool/shell/app.h"

int main(int argc, char** argv) {
    CDevodToolApp app;
    return app.Run(argc, argv);
}
