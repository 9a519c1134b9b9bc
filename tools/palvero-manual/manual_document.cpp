#include "manual_document.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

#include <algorithm>
#include <functional>
#include <vector>

namespace palvero::manual {

namespace {

// Fonts with Latin and Cyrillic glyphs, so that both manuals print from the same faces.
const QString kBodyFamily = "DejaVu Serif";
const QString kHeadingFamily = "DejaVu Sans";
const QString kCodeFamily = "DejaVu Sans Mono";

const QColor kHeadingColour(0x1F, 0x3A, 0x5F);
const QColor kRuleColour(0x9A, 0xA5, 0xB1);
const QColor kShadeColour(0xEE, 0xF1, 0xF5);

// Page geometry in millimetres (A4).
constexpr double kMarginLeft = 22, kMarginRight = 20, kMarginTop = 24, kMarginBottom = 24;

bool isFence(const QString& line)
{
    return line.startsWith("```") || line.startsWith("~~~");
}

} // namespace

ManualSource parseManualSource(const QString& text, QString& error)
{
    ManualSource source;
    QStringList lines = text.split('\n');
    if (lines.isEmpty() || lines.first().trimmed() != "---") {
        error = "the manual must start with its \"---\" heading block";
        return source;
    }
    int end = -1;
    for (int i = 1; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line == "---") {
            end = i;
            break;
        }
        const int colon = line.indexOf(':');
        if (line.isEmpty())
            continue;
        if (colon <= 0) {
            error = QString("line %1 of the heading block is not \"key: value\"").arg(i + 1);
            return source;
        }
        const QString key = line.left(colon).trimmed();
        const QString value = line.mid(colon + 1).trimmed();
        if (key == "title")
            source.title = value;
        else if (key == "subtitle")
            source.subtitle = value;
        else if (key == "tagline")
            source.tagline = value;
        else if (key == "contents")
            source.contentsTitle = value;
        else if (key == "figure")
            source.figureWord = value;
        else if (key == "footer")
            source.footer = value;
        else {
            error = "unknown key \"" + key + "\" in the heading block";
            return source;
        }
    }
    if (end < 0) {
        error = "the heading block has no closing \"---\"";
        return source;
    }
    if (source.title.isEmpty()) {
        error = "the heading block names no title";
        return source;
    }
    source.body = lines.mid(end + 1).join('\n');
    return source;
}

QString figureMarker(int index)
{
    return QString("FIGURE-MARKER-%1").arg(index);
}

PreparedBody prepareBody(const QString& body)
{
    static const QRegularExpression heading("^(#{1,2})\\s+(.*\\S)\\s*$");
    static const QRegularExpression figure("^!\\[([^\\]]*)\\]\\(([^)\\s]+)\\)\\s*$");
    PreparedBody out;
    QStringList lines = body.split('\n');
    bool inCode = false;
    int chapter = 0, section = 0;
    for (QString& line : lines) {
        if (isFence(line)) {
            inCode = !inCode;
            continue;
        }
        if (inCode)
            continue;
        if (const auto m = heading.match(line); m.hasMatch()) {
            Heading h;
            h.level = m.captured(1).size();
            if (h.level == 1) {
                ++chapter;
                section = 0;
                h.number = QString::number(chapter);
            } else {
                ++section;
                h.number = QString("%1.%2").arg(chapter).arg(section);
            }
            h.text = m.captured(2);
            line = m.captured(1) + ' ' + h.number + "\u2002" + h.text;
            out.headings.push_back(h);
        } else if (const auto f = figure.match(line); f.hasMatch()) {
            line = figureMarker(static_cast<int>(out.figures.size()));
            out.figures.push_back({f.captured(2), f.captured(1)});
        }
    }
    out.markdown = lines.join('\n');
    return out;
}

namespace {

struct Page {
    double width = 0, height = 0;             // whole page, device units
    double left = 0, top = 0;                 // text area origin
    double textWidth = 0, textHeight = 0;
    double dpi = 0;
    double mm(double v) const { return v * dpi / 25.4; }
};

QFont font(const QString& family, double points, bool bold = false, bool italic = false)
{
    QFont f(family);
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setItalic(italic);
    // No ligatures: a reader searching the PDF for "first" must find it.
    f.setStyleStrategy(QFont::StyleStrategy(QFont::PreferOutline | QFont::PreferNoShaping));
    return f;
}

void applyToFragments(const QTextBlock& block, const std::function<void(QTextCursor&, const QTextCharFormat&)>& fn)
{
    // Ranges first: a changed format may merge or split the block's fragments.
    struct Range {
        int from, to;
        QTextCharFormat format;
    };
    std::vector<Range> ranges;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        if (const QTextFragment f = it.fragment(); f.isValid())
            ranges.push_back({f.position(), f.position() + f.length(), f.charFormat()});
    for (const Range& r : ranges) {
        QTextCursor c(const_cast<QTextDocument*>(block.document()));
        c.setPosition(r.from);
        c.setPosition(r.to, QTextCursor::KeepAnchor);
        fn(c, r.format);
    }
}

bool isCode(const QTextBlockFormat& f)
{
    return f.hasProperty(QTextFormat::BlockCodeFence) || f.nonBreakableLines();
}

void styleTables(QTextFrame* frame, const Page& page)
{
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            QTextTableFormat f = table->format();
            f.setBorder(page.mm(0.25));
            f.setBorderBrush(kRuleColour);
            f.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            f.setBorderCollapse(true);
            f.setCellSpacing(0);
            f.setCellPadding(page.mm(1.2));
            f.setWidth(QTextLength(QTextLength::PercentageLength, 100));
            f.setHeaderRowCount(1);
            // Columns as wide as their texts need on average, so that a column of short
            // captions does not take as much room as a column of explanations.
            std::vector<double> weight(static_cast<size_t>(table->columns()), 0);
            for (int c = 0; c < table->columns(); ++c) {
                double total = 0, longestWord = 0;
                for (int r = 0; r < table->rows(); ++r) {
                    const QTextTableCell cell = table->cellAt(r, c);
                    QTextCursor text = cell.firstCursorPosition();
                    text.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
                    const QString plain = text.selectedText();
                    total += plain.size();
                    for (const QString& word : plain.split(' ', Qt::SkipEmptyParts))
                        longestWord = std::max(longestWord, double(word.size()));
                }
                const double average = total / std::max(1, table->rows());
                weight[static_cast<size_t>(c)] = std::clamp(std::max(average, longestWord * 1.2), 8.0, 80.0);
            }
            double sum = 0;
            for (double w : weight)
                sum += w;
            // No column narrower than 60% of an even share.
            const double least = 60.0 / table->columns();
            double spread = 0;
            for (double& w : weight) {
                w = std::max(least, 100.0 * w / sum);
                spread += w;
            }
            QList<QTextLength> widths;
            for (double w : weight)
                widths << QTextLength(QTextLength::PercentageLength, 100.0 * w / spread);
            f.setColumnWidthConstraints(widths);
            f.setTopMargin(page.mm(1.5));
            f.setBottomMargin(page.mm(3));
            table->setFormat(f);
            for (int c = 0; c < table->columns(); ++c) {
                QTextTableCell cell = table->cellAt(0, c);
                QTextCharFormat shade = cell.format();
                shade.setBackground(kShadeColour);
                cell.setFormat(shade);
            }
        }
        styleTables(child, page);
    }
}

// Gives the imported Markdown the look of a printed manual: fonts, heading sizes and
// spacing, a new page for each chapter, shaded code, ruled tables, figures with captions.
bool styleBody(QTextDocument& doc, const PreparedBody& prepared, const ManualSource& source,
               const RenderOptions& options, const Page& page, QString& error)
{
    int figureIndex = 0;
    bool firstChapter = true;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QTextCursor cursor(block);
        QTextBlockFormat bf = block.blockFormat();
        const int level = bf.headingLevel();
        if (level > 0) {
            const double size = level == 1 ? 18 : level == 2 ? 13.5 : 11.5;
            bf.setTopMargin(page.mm(level == 1 ? 2 : level == 2 ? 6 : 4));
            bf.setBottomMargin(page.mm(level == 1 ? 6 : 2.5));
            if (level == 1 && !firstChapter)
                bf.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
            if (level == 1)
                firstChapter = false;
            cursor.setBlockFormat(bf);
            applyToFragments(block, [&](QTextCursor& c, const QTextCharFormat&) {
                QTextCharFormat cf;
                cf.setFont(font(kHeadingFamily, size, true));
                cf.setForeground(kHeadingColour);
                c.mergeCharFormat(cf);
            });
            continue;
        }
        if (block.text().startsWith("FIGURE-MARKER-") && figureIndex < static_cast<int>(prepared.figures.size())
            && block.text() == figureMarker(figureIndex)) {
            const Figure& fig = prepared.figures[static_cast<size_t>(figureIndex)];
            const QString path = options.imageFolder + '/' + fig.file;
            QImage image(path);
            if (image.isNull()) {
                error = "cannot read the figure " + path;
                return false;
            }
            const QString name = QString("figure-%1").arg(figureIndex);
            doc.addResource(QTextDocument::ImageResource, QUrl(name), image);
            // Screen pixels at 96 per inch, shrunk to the text width and to 55% of the page height.
            double w = image.width() * page.dpi / 96.0;
            double h = image.height() * page.dpi / 96.0;
            const double scale = std::min({1.0, page.textWidth / w, page.textHeight * 0.55 / h});
            w *= scale;
            h *= scale;

            cursor = QTextCursor(block);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
            QTextBlockFormat centred;
            centred.setAlignment(Qt::AlignHCenter);
            centred.setTopMargin(page.mm(3));
            centred.setBottomMargin(page.mm(1));
            cursor.setBlockFormat(centred);
            // The layout takes image sizes in screen pixels and scales them to the device.
            QTextImageFormat img;
            img.setName(name);
            img.setWidth(w * 96.0 / page.dpi);
            img.setHeight(h * 96.0 / page.dpi);
            cursor.insertImage(img);
            QTextBlockFormat captionFormat;
            captionFormat.setAlignment(Qt::AlignHCenter);
            captionFormat.setBottomMargin(page.mm(4));
            QTextCharFormat captionChars;
            captionChars.setFont(font(kBodyFamily, 9, false, true));
            captionChars.setForeground(QColor(0x33, 0x33, 0x33));
            cursor.insertBlock(captionFormat, captionChars);
            QTextCharFormat bold = captionChars;
            bold.setFontWeight(QFont::Bold);
            cursor.insertText(QString("%1 %2. ").arg(source.figureWord).arg(figureIndex + 1), bold);
            cursor.insertText(fig.caption, captionChars);
            block = cursor.block();
            ++figureIndex;
            continue;
        }
        const bool code = isCode(bf);
        if (code) {
            bf.setBackground(kShadeColour);
            bf.setLeftMargin(page.mm(3));
            bf.setRightMargin(page.mm(3));
            // A fenced block arrives as one block per line: space only after its last line.
            const QTextBlock next = block.next();
            bf.setTopMargin(0);
            bf.setBottomMargin(next.isValid() && isCode(next.blockFormat()) ? 0 : page.mm(3));
            cursor.setBlockFormat(bf);
        } else if (!block.textList() && !cursor.currentTable()) {
            bf.setBottomMargin(page.mm(2.2));
            bf.setLineHeight(118, QTextBlockFormat::ProportionalHeight);
            bf.setAlignment(Qt::AlignJustify);
            cursor.setBlockFormat(bf);
        } else {
            bf.setLineHeight(112, QTextBlockFormat::ProportionalHeight);
            bf.setBottomMargin(page.mm(1));
            cursor.setBlockFormat(bf);
        }
        applyToFragments(block, [&](QTextCursor& c, const QTextCharFormat& cf) {
            if (cf.isImageFormat())
                return;
            QTextCharFormat m;
            if (code || cf.fontFixedPitch()) {
                m.setFontFamilies(QStringList{kCodeFamily});
                m.setFontPointSize(code ? 8.5 : 9);
                m.setFontFixedPitch(true);
            }
            if (!m.isEmpty())
                c.mergeCharFormat(m);
        });
    }
    if (figureIndex != static_cast<int>(prepared.figures.size())) {
        error = QString("figure %1 is not a paragraph of its own").arg(figureIndex + 1);
        return false;
    }
    styleTables(doc.rootFrame(), page);
    return true;
}

// The contents: one line per chapter and section with its page at the right edge.
void buildContents(QTextDocument& toc, const ManualSource& source, const std::vector<Heading>& headings,
                   const Page& page, int firstBodyPage, const std::vector<int>& bodyPages)
{
    toc.clear();
    QTextCursor c(&toc);
    QTextBlockFormat titleFormat;
    titleFormat.setBottomMargin(page.mm(8));
    QTextCharFormat titleChars;
    titleChars.setFont(font(kHeadingFamily, 18, true));
    titleChars.setForeground(kHeadingColour);
    c.setBlockFormat(titleFormat);
    c.setCharFormat(titleChars);
    c.insertText(source.contentsTitle);
    for (size_t i = 0; i < headings.size(); ++i) {
        const Heading& h = headings[i];
        QTextBlockFormat bf;
        // Tab positions are in screen pixels, as image sizes are.
        const double px = 96.0 / page.dpi;
        bf.setTabPositions({QTextOption::Tab(page.mm(h.level == 1 ? 9 : 11) * px, QTextOption::LeftTab),
                            QTextOption::Tab((page.textWidth - (h.level == 1 ? 0 : page.mm(9))) * px - 1,
                                             QTextOption::RightTab)});
        bf.setLeftMargin(h.level == 1 ? 0 : page.mm(9));
        bf.setTopMargin(h.level == 1 ? page.mm(3.5) : page.mm(0.6));
        QTextCharFormat cf;
        cf.setFont(font(h.level == 1 ? kHeadingFamily : kBodyFamily, h.level == 1 ? 11 : 10, h.level == 1));
        const int pageNumber = i < bodyPages.size() ? firstBodyPage + bodyPages[i] : 999;
        c.insertBlock(bf, cf);
        c.insertText(h.number + '\t' + h.text + '\t' + QString::number(pageNumber));
    }
}

void prepareDocument(QTextDocument& doc, QPdfWriter& pdf, const Page& page)
{
    doc.documentLayout()->setPaintDevice(&pdf);
    doc.setDocumentMargin(0);
    doc.setPageSize(QSizeF(page.textWidth, page.textHeight));
    doc.setDefaultFont(font(kBodyFamily, 10));
}

void drawDocumentPage(QPainter& p, QTextDocument& doc, int index, const Page& page)
{
    p.save();
    p.translate(page.left, page.top - index * page.textHeight);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = QRectF(0, index * page.textHeight, page.textWidth, page.textHeight);
    p.setClipRect(context.clip);
    doc.documentLayout()->draw(&p, context);
    p.restore();
}

void drawFrame(QPainter& p, const Page& page, const ManualSource& source, const QString& header, int number)
{
    p.save();
    p.setPen(QPen(kRuleColour, page.mm(0.2)));
    const double headerLine = page.top - page.mm(5);
    const double footerLine = page.top + page.textHeight + page.mm(6);
    p.drawLine(QPointF(page.left, headerLine), QPointF(page.left + page.textWidth, headerLine));
    p.drawLine(QPointF(page.left, footerLine), QPointF(page.left + page.textWidth, footerLine));
    p.setPen(QColor(0x55, 0x55, 0x55));
    p.setFont(font(kHeadingFamily, 8));
    const double lineHeight = page.mm(5);
    p.drawText(QRectF(page.left, headerLine - lineHeight, page.textWidth, lineHeight),
               Qt::AlignRight | Qt::AlignBottom, header);
    p.drawText(QRectF(page.left, footerLine, page.textWidth, lineHeight), Qt::AlignLeft | Qt::AlignVCenter,
               source.footer);
    p.drawText(QRectF(page.left, footerLine, page.textWidth, lineHeight), Qt::AlignRight | Qt::AlignVCenter,
               QString::number(number));
    p.restore();
}

void drawTitlePage(QPainter& p, const Page& page, const ManualSource& source, const RenderOptions& options)
{
    p.save();
    const double x = page.left, w = page.textWidth;
    // A band across the top of the page, the icon, then the title block.
    p.fillRect(QRectF(0, 0, page.width, page.mm(70)), kHeadingColour);
    double y = page.mm(95);
    const QImage icon(options.iconFile);
    if (!icon.isNull()) {
        const double side = page.mm(38);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(QRectF(x + (w - side) / 2, page.mm(70) - side / 2, side, side), icon);
    }
    p.setPen(kHeadingColour);
    p.setFont(font(kHeadingFamily, 40, true));
    p.drawText(QRectF(x, y, w, page.mm(22)), Qt::AlignHCenter | Qt::AlignVCenter, source.title);
    y += page.mm(24);
    p.setFont(font(kHeadingFamily, 20));
    p.drawText(QRectF(x, y, w, page.mm(12)), Qt::AlignHCenter | Qt::AlignVCenter, source.subtitle);
    y += page.mm(16);
    p.setPen(QPen(kRuleColour, page.mm(0.4)));
    p.drawLine(QPointF(x + w * 0.25, y), QPointF(x + w * 0.75, y));
    y += page.mm(6);
    p.setPen(QColor(0x33, 0x33, 0x33));
    p.setFont(font(kBodyFamily, 12, false, true));
    p.drawText(QRectF(x, y, w, page.mm(20)), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, source.tagline);
    if (!options.version.isEmpty()) {
        p.setFont(font(kHeadingFamily, 11));
        p.drawText(QRectF(x, page.height - page.mm(45), w, page.mm(8)), Qt::AlignHCenter | Qt::AlignVCenter,
                   source.title + ' ' + options.version);
    }
    p.restore();
}

bool hasFonts(const QString& text, QString& error)
{
    bool cyrillic = false;
    for (const QChar ch : text)
        if (ch.script() == QChar::Script_Cyrillic) {
            cyrillic = true;
            break;
        }
    const QStringList families = QFontDatabase::families();
    for (const QString& family : {kBodyFamily, kHeadingFamily, kCodeFamily}) {
        if (!families.contains(family)) {
            error = "the font " + family + " is missing (Debian package fonts-dejavu-core)";
            return false;
        }
        if (cyrillic && !QFontDatabase::writingSystems(family).contains(QFontDatabase::Cyrillic)) {
            error = "the font " + family + " has no Cyrillic letters";
            return false;
        }
    }
    return true;
}

} // namespace

bool renderManual(const ManualSource& source, const RenderOptions& options, QPdfWriter& pdf,
                  std::vector<Heading>* headingsOut, QString& error)
{
    if (!hasFonts(source.title + source.subtitle + source.body, error))
        return false;

    pdf.setResolution(300);
    pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(),
                                  QPageLayout::Millimeter, QMarginsF()));
    pdf.setTitle(source.title + " \u2013 " + source.subtitle);
    pdf.setCreator(source.title);

    Page page;
    page.dpi = pdf.resolution();
    const QRect full = pdf.pageLayout().fullRectPixels(pdf.resolution());
    page.width = full.width();
    page.height = full.height();
    page.left = page.mm(kMarginLeft);
    page.top = page.mm(kMarginTop);
    page.textWidth = page.width - page.mm(kMarginLeft + kMarginRight);
    page.textHeight = page.height - page.mm(kMarginTop + kMarginBottom);

    const PreparedBody prepared = prepareBody(source.body);
    QTextDocument body;
    prepareDocument(body, pdf, page);
    // Raw HTML is not taken: the manuals quote captions such as "<None>" as they are.
    body.setMarkdown(prepared.markdown, QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub | QTextDocument::MarkdownNoHTML));
    if (!styleBody(body, prepared, source, options, page, error))
        return false;
    const int bodyPageCount = body.pageCount();

    // The page of each chapter and section within the chapters' own pages.
    std::vector<Heading> headings = prepared.headings;
    std::vector<int> bodyPages;
    std::vector<QString> runningHeader(static_cast<size_t>(bodyPageCount));
    {
        size_t next = 0;
        for (QTextBlock block = body.begin(); block.isValid() && next < headings.size(); block = block.next()) {
            const int level = block.blockFormat().headingLevel();
            if (level < 1 || level > 2)
                continue;
            const QRectF r = body.documentLayout()->blockBoundingRect(block);
            bodyPages.push_back(static_cast<int>(r.top() / page.textHeight));
            ++next;
        }
        if (bodyPages.size() != headings.size()) {
            error = "a heading was not found in the laid out text";
            return false;
        }
        QString chapter;
        size_t h = 0;
        for (int i = 0; i < bodyPageCount; ++i) {
            while (h < headings.size() && bodyPages[h] <= i) {
                if (headings[h].level == 1)
                    chapter = headings[h].number + "\u2002" + headings[h].text;
                ++h;
            }
            runningHeader[static_cast<size_t>(i)] = chapter;
        }
    }

    // Contents: laid out once to learn how many pages it takes, then with the real numbers.
    QTextDocument toc;
    prepareDocument(toc, pdf, page);
    buildContents(toc, source, headings, page, 0, {});
    const int tocPages = toc.pageCount();
    const int firstBodyPage = 1 + tocPages + 1;
    buildContents(toc, source, headings, page, firstBodyPage, bodyPages);
    if (toc.pageCount() != tocPages) {
        error = "the contents changed their length";
        return false;
    }
    for (size_t i = 0; i < headings.size(); ++i)
        headings[i].page = firstBodyPage + bodyPages[i];

    QPainter p;
    if (!p.begin(&pdf)) {
        error = "cannot write the PDF file";
        return false;
    }
    p.setRenderHint(QPainter::Antialiasing);
    drawTitlePage(p, page, source, options);
    int number = 1;
    for (int i = 0; i < tocPages; ++i) {
        pdf.newPage();
        ++number;
        drawDocumentPage(p, toc, i, page);
        drawFrame(p, page, source, source.contentsTitle, number);
    }
    for (int i = 0; i < bodyPageCount; ++i) {
        pdf.newPage();
        ++number;
        drawDocumentPage(p, body, i, page);
        drawFrame(p, page, source, runningHeader[static_cast<size_t>(i)], number);
    }
    p.end();
    if (headingsOut)
        *headingsOut = headings;
    return true;
}

} // namespace palvero::manual
