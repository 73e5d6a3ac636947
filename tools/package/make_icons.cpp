// Writes the program's icon as hicolor theme files, <folder>/<n>x<n>/apps/mivex.png for every size
// given, drawn by the same code as the icon the running program shows.
//
//   mivex-make-icons build/icons 16 22 24 32 48 64 128 256
#include <QDir>
#include <QString>

#include <cstdio>
#include <cstdlib>

#include "ui/app_icon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER SIZE...\n", argv[0]);
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString folder = QString("%1/%2x%2/apps").arg(argv[1]).arg(size);
        if (size <= 0 || !QDir().mkpath(folder) || !DrawMivexIcon(size).save(folder + "/mivex.png")) {
            std::fprintf(stderr, "%s: cannot write the %s pixel icon into %s\n", argv[0], argv[i], qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
