// Converts the window icon's XPM drawings into the PNG files the desktop's icon theme takes.
// Usage: xpm_to_png INPUT.xpm OUTPUT.png SIZE; fails unless the drawing is SIZE x SIZE.
#include <QImage>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: xpm_to_png INPUT.xpm OUTPUT.png SIZE\n");
        return 2;
    }
    char* end = nullptr;
    const long size = std::strtol(argv[3], &end, 10);
    if (end == argv[3] || *end != '\0' || size <= 0 || size > 1024) {
        std::fprintf(stderr, "xpm_to_png: bad size %s\n", argv[3]);
        return 2;
    }
    const QImage image(QString::fromLocal8Bit(argv[1]), "XPM");
    if (image.isNull()) {
        std::fprintf(stderr, "xpm_to_png: cannot read %s\n", argv[1]);
        return 1;
    }
    if (image.width() != size || image.height() != size) {
        std::fprintf(stderr, "xpm_to_png: %s is %dx%d, not %ldx%ld\n", argv[1], image.width(),
                     image.height(), size, size);
        return 1;
    }
    if (!image.convertToFormat(QImage::Format_ARGB32)
             .save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "xpm_to_png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
