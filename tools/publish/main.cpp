// ashenmarch-publish: the studio's tool for release keys and release files (see
// publish/PublishCommand.h). Errors go to standard error.
#include "publish/PublishCommand.h"

#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return Publish::runPublish(args, std::cout, std::cerr);
}
