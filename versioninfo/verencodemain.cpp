// sorvinda-verencode: the build's encoder of version declarations.
//
//   sorvinda-verencode --c   DECLARATION OUTPUT.c   C source for .vs_version_info
//   sorvinda-verencode --bin DECLARATION OUTPUT     the raw VS_VERSIONINFO block
//
// Exit status 0 on success; 1 with a message naming the declaration's line
// on any error, so that a broken declaration stops the build.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "versioninfo/versiondeclaration.h"
#include "versioninfo/versionencoder.h"

int main(int argc, char** argv)
{
    if (argc != 4 || (std::string(argv[1]) != "--c" && std::string(argv[1]) != "--bin")) {
        std::fprintf(stderr, "usage: %s --c|--bin DECLARATION OUTPUT\n", argv[0]);
        return 1;
    }
    const std::string mode = argv[1], input = argv[2], output = argv[3];
    std::ifstream in(input, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "%s: cannot read\n", input.c_str());
        return 1;
    }
    std::ostringstream text;
    text << in.rdbuf();

    std::string error;
    const auto declaration = versioninfo::VersionDeclaration::parse(text.str(), error);
    if (!declaration) {
        std::fprintf(stderr, "%s: %s\n", input.c_str(), error.c_str());
        return 1;
    }
    const auto block = versioninfo::VersionEncoder::encode(*declaration);
    if (block.empty()) {
        std::fprintf(stderr, "%s: the version block would exceed 65535 bytes\n", input.c_str());
        return 1;
    }

    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    if (mode == "--c") {
        const std::string source = versioninfo::VersionEncoder::toCSource(block, input);
        out.write(source.data(), static_cast<std::streamsize>(source.size()));
    } else {
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size()));
    }
    if (!out.flush()) {
        std::fprintf(stderr, "%s: cannot write\n", output.c_str());
        return 1;
    }
    return 0;
}
