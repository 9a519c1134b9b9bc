#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QPdfWriter;

namespace palvero::manual {

// A manual as written in Markdown: a block of "key: value" lines between two "---" lines
// at the top (title, subtitle, tagline, contents, figure, footer), then the text.
// Headings "#" and "##" are numbered chapters and sections; a paragraph that is only
// an image, "![caption](file.png)", is a numbered figure with its caption.
struct ManualSource {
    QString title;
    QString subtitle;
    QString tagline;
    QString contentsTitle = "Contents";
    QString figureWord = "Figure";
    QString footer;
    QString body;
};

// Splits the heading block off the text. Empty `error` on success.
ManualSource parseManualSource(const QString& text, QString& error);

struct Heading {
    int level = 1;   // 1 chapter, 2 section
    QString number;  // "3" or "3.2"
    QString text;    // without the number
    int page = 0;    // 1-based page of the PDF
};

struct Figure {
    QString file;
    QString caption;
};

// The text with its chapters and sections numbered and each figure replaced by a marker
// paragraph; the headings and figures in order.
struct PreparedBody {
    QString markdown;
    std::vector<Heading> headings;
    std::vector<Figure> figures;
};
PreparedBody prepareBody(const QString& body);

// The marker paragraph that stands for figure `index` (0-based) in the prepared text.
QString figureMarker(int index);

struct RenderOptions {
    QString imageFolder;   // where the figures' files are
    QString version;       // printed on the title page
    QString iconFile;      // drawn on the title page when it exists
};

// Writes the whole manual (title page, contents with page numbers, chapters, figures,
// page numbers in the footer) into `pdf`. Fails, with `error`, when a figure's file
// cannot be read or no font can draw the text.
bool renderManual(const ManualSource& source, const RenderOptions& options, QPdfWriter& pdf,
                  std::vector<Heading>* headingsOut, QString& error);

} // namespace palvero::manual
