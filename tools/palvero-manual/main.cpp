// Turns an operator's manual written in Markdown into its PDF file:
//   palvero-manual [--version TEXT] [--images DIR] [--icon FILE] MANUAL.md OUTPUT.pdf
// Figures are read from DIR (by default the Markdown file's folder).
#include "manual_document.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPdfWriter>
#include <QSaveFile>

#include <cstdio>

namespace {

QString option(QStringList& args, const QString& name)
{
    const int i = args.indexOf(name);
    if (i < 0 || i + 1 >= args.size())
        return {};
    const QString value = args[i + 1];
    args.remove(i, 2);
    return value;
}

int fail(const QString& text)
{
    std::fprintf(stderr, "palvero-manual: %s\n", qPrintable(text));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    palvero::manual::RenderOptions options;
    options.version = option(args, "--version");
    options.imageFolder = option(args, "--images");
    options.iconFile = option(args, "--icon");
    if (args.size() != 2 || args[0].startsWith("--"))
        return fail("usage: palvero-manual [--version TEXT] [--images DIR] [--icon FILE] MANUAL.md OUTPUT.pdf");
    if (options.imageFolder.isEmpty())
        options.imageFolder = QFileInfo(args[0]).absolutePath();

    QFile in(args[0]);
    if (!in.open(QIODevice::ReadOnly))
        return fail("cannot read " + args[0]);
    QString error;
    const palvero::manual::ManualSource source = palvero::manual::parseManualSource(QString::fromUtf8(in.readAll()), error);
    if (!error.isEmpty())
        return fail(args[0] + ": " + error);

    // Written aside and renamed at the end, so that a failed run leaves no half a manual.
    QSaveFile out(args[1]);
    if (!out.open(QIODevice::WriteOnly))
        return fail("cannot write " + args[1]);
    {
        QPdfWriter pdf(&out);
        if (!palvero::manual::renderManual(source, options, pdf, nullptr, error)) {
            out.cancelWriting();
            return fail(args[0] + ": " + error);
        }
    }
    if (!out.commit())
        return fail("cannot write " + args[1]);
    return 0;
}
