#include "app/picture.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <csetjmp>
#include <cstdlib>
#include <cstdio>
#include <jpeglib.h>
#include <vector>

namespace zuna {

namespace {
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void on_error(j_common_ptr info)
{
    auto* err = reinterpret_cast<ErrorManager*>(info->err);
    std::longjmp(err->jump, 1);
}

void on_message(j_common_ptr) {} // warnings are not shown

// Reads the whole file first so no FILE* is left open across the longjmp.
bool read_all(const QString& path, std::vector<unsigned char>& out)
{
    std::FILE* f = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!f)
        return false;
    unsigned char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) {
        out.insert(out.end(), buf, buf + n);
        if (out.size() > (64u << 20))
            break; // no picture is that large
    }
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok && !out.empty();
}
} // namespace

QImage load_jpeg(const QString& path)
{
    std::vector<unsigned char> bytes;
    if (!read_all(path, bytes))
        return {};

    jpeg_decompress_struct info{};
    ErrorManager err{};
    info.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = on_error;
    err.pub.output_message = on_message;
    // Nothing with a destructor is created between setjmp and the end of the
    // decode: the pixels live in a malloc'd buffer freed on both paths.
    volatile bool created = false;
    unsigned char* volatile pixels = nullptr;
    if (setjmp(err.jump)) {
        if (created)
            jpeg_destroy_decompress(&info);
        std::free(pixels);
        return {};
    }
    jpeg_create_decompress(&info);
    created = true;
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    // Fixed decoding options: full-quality colour output, no progressive display.
    info.out_color_space = JCS_RGB;
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = TRUE;
    info.buffered_image = FALSE;
    jpeg_start_decompress(&info);
    if (info.output_width == 0 || info.output_height == 0 || info.output_width > 20000 ||
        info.output_height > 20000 || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    const size_t stride = size_t(info.output_width) * 3;
    pixels = static_cast<unsigned char*>(std::malloc(stride * info.output_height));
    if (!pixels) {
        jpeg_destroy_decompress(&info);
        return {};
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = pixels + stride * info.output_scanline;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    const int w = int(info.output_width), h = int(info.output_height);
    jpeg_destroy_decompress(&info);
    QImage image = QImage(pixels, w, h, int(stride), QImage::Format_RGB888).copy();
    std::free(pixels);
    return image;
}

QStringList picture_dirs()
{
    return {QDir::currentPath(), QDir(QCoreApplication::applicationDirPath()).filePath(ZUNA_DATA_FROM_BIN)};
}

QString find_picture(const QStringList& dirs)
{
    for (const QString& dir : dirs) {
        const QString path = QDir(dir).filePath("nri.jpg");
        if (QFileInfo::exists(path))
            return path;
    }
    return {};
}

} // namespace zuna
