// The operator's manuals: the Markdown form the printing tool reads, and the two PDF
// files the build prints, opened as a reader's viewer opens them.
#include "manual_document.h"

#include <QBuffer>
#include <QFile>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <iterator>
#include <utility>
#include <vector>

using namespace palvero::manual;

namespace {

QString normalised(QString text)
{
    for (QChar& c : text)
        if (c.isSpace())
            c = ' ';
    return text.simplified();
}

ManualSource readSource(const QString& language)
{
    QFile file(QStringLiteral(PALVERO_DOCS "/UsrMan%1.md").arg(language));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString error;
    ManualSource source = parseManualSource(QString::fromUtf8(file.readAll()), error);
    return error.isEmpty() ? source : ManualSource{};
}

// How each manual names its chapters and sections in the text ("chapter 7", "sections 14.2
// and 7.3"); the words are regular expressions.
struct Language {
    const char* file;
    const char* chapter;
    const char* section;
    const char* conjunction;
};
const Language kLanguages[] = {
    {"En", "chapters?", "sections?", "and"},
    {"Bg", "глав[аи]", "раздел(?:а|и|ите)?", "и"},
};

// Every chapter and section reference of a manual as "where -> what" (the heading it is
// written under, the heading it names), and the ones that name no heading of their kind.
struct References {
    QStringList found;
    QStringList faults;
};

References crossReferences(const Language& language)
{
    const PreparedBody body = prepareBody(readSource(language.file).body);
    QSet<QString> chapters, sections;
    for (const Heading& h : body.headings)
        (h.level == 1 ? chapters : sections).insert(h.number);

    // The prepared text carries each heading's number: "## 5.6\u2002Ending the day".
    static const QRegularExpression heading("^#{1,2} (\\d+(?:\\.\\d+)?)\u2002", QRegularExpression::MultilineOption);
    std::vector<std::pair<qsizetype, QString>> under;
    for (auto it = heading.globalMatch(body.markdown); it.hasNext();) {
        const auto m = it.next();
        under.emplace_back(m.capturedStart(), m.captured(1));
    }
    const QString number = "\\d+(?:\\.\\d+)?";
    const QRegularExpression reference(
        QString("(?<!\\w)(?:(%1)|(%2))\\s+(%4(?:(?:\\s*,\\s*|\\s+%3\\s+)%4)*)")
            .arg(QString::fromUtf8(language.chapter), QString::fromUtf8(language.section),
                 QString::fromUtf8(language.conjunction), number),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    static const QRegularExpression oneNumber("\\d+(?:\\.\\d+)?");

    References out;
    for (auto it = reference.globalMatch(body.markdown); it.hasNext();) {
        const auto m = it.next();
        QString where = "before the first heading";
        for (const auto& [at, name] : under)
            if (at < m.capturedStart())
                where = name;
        const bool chapter = m.capturedLength(1) > 0;
        for (auto n = oneNumber.globalMatch(m.captured(3)); n.hasNext();) {
            const QString target = n.next().captured();
            out.found << where + " -> " + target;
            if (!(chapter ? chapters : sections).contains(target))
                out.faults << QString("under %1: \"%2\" names no %3").arg(where, normalised(m.captured()),
                                                                         chapter ? "chapter" : "section");
        }
    }
    out.found.sort();
    return out;
}

} // namespace

class ManualTest : public QObject {
    Q_OBJECT
private slots:
    void headingBlock_data();
    void headingBlock();
    void chaptersAndFigures();
    void missingFigureFails();
    void bothLanguagesAlike();
    void crossReferencesNameHeadings_data();
    void crossReferencesNameHeadings();
    void printedManual_data();
    void printedManual();
};

void ManualTest::headingBlock_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("title");
    QTest::newRow("whole") << "---\ntitle: Palvero\nsubtitle: Manual\nfigure: Fig.\n---\n# One" << "" << "Palvero";
    QTest::newRow("no block") << "# One\n" << "the manual must start with its \"---\" heading block" << "";
    QTest::newRow("not closed") << "---\ntitle: Palvero\n# One" << "line 3 of the heading block is not \"key: value\"" << "";
    QTest::newRow("no end") << "---\ntitle: Palvero\n" << "the heading block has no closing \"---\"" << "";
    QTest::newRow("unknown key") << "---\ntitle: P\nauthor: X\n---\n" << "unknown key \"author\" in the heading block" << "";
    QTest::newRow("no title") << "---\nsubtitle: Manual\n---\n" << "the heading block names no title" << "";
}

void ManualTest::headingBlock()
{
    QFETCH(QString, text);
    QFETCH(QString, error);
    QFETCH(QString, title);
    QString got;
    const ManualSource source = parseManualSource(text, got);
    QCOMPARE(got, error);
    if (error.isEmpty()) {
        QCOMPARE(source.title, title);
        QCOMPARE(source.figureWord, QString("Fig."));
        QCOMPARE(source.body, QString("# One"));
    }
}

void ManualTest::chaptersAndFigures()
{
    const QString body = "# Start\n"
                         "text ![inline](a.png) stays\n"
                         "## First\n"
                         "![The main window](main.png)\n"
                         "```\n# not a heading\n![not a figure](x.png)\n```\n"
                         "## Second\n"
                         "# Next\n"
                         "## Again\n"
                         "![Two](two.png)\n";
    const PreparedBody p = prepareBody(body);
    QStringList headings;
    for (const Heading& h : p.headings)
        headings << QString("%1|%2|%3").arg(h.level).arg(h.number, h.text);
    QCOMPARE(headings, QStringList({"1|1|Start", "2|1.1|First", "2|1.2|Second", "1|2|Next", "2|2.1|Again"}));
    QCOMPARE(p.figures.size(), size_t(2));
    QCOMPARE(p.figures[0].file, QString("main.png"));
    QCOMPARE(p.figures[0].caption, QString("The main window"));
    QCOMPARE(p.figures[1].file, QString("two.png"));
    QVERIFY(p.markdown.contains(figureMarker(0)));
    QVERIFY(p.markdown.contains(figureMarker(1)));
    QVERIFY(p.markdown.contains("# not a heading\n![not a figure](x.png)"));
    QVERIFY(p.markdown.contains("text ![inline](a.png) stays"));
}

void ManualTest::missingFigureFails()
{
    QString error;
    const ManualSource source = parseManualSource("---\ntitle: T\n---\n# One\n\n![Gone](gone.png)\n", error);
    QVERIFY(error.isEmpty());
    QTemporaryDir folder;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    QPdfWriter pdf(&out);
    RenderOptions options;
    options.imageFolder = folder.path();
    QVERIFY(!renderManual(source, options, pdf, nullptr, error));
    QCOMPARE(error, "cannot read the figure " + folder.path() + "/gone.png");
}

void ManualTest::bothLanguagesAlike()
{
    // The Bulgarian manual is the English one in another language: the same chapters and
    // sections, the same figures in the same places.
    const PreparedBody en = prepareBody(readSource("En").body);
    const PreparedBody bg = prepareBody(readSource("Bg").body);
    QVERIFY(en.headings.size() > 20);
    QCOMPARE(bg.headings.size(), en.headings.size());
    for (size_t i = 0; i < en.headings.size(); ++i)
        QCOMPARE(bg.headings[i].number, en.headings[i].number);
    QCOMPARE(bg.figures.size(), en.figures.size());
    for (size_t i = 0; i < en.figures.size(); ++i)
        QCOMPARE(bg.figures[i].file, en.figures[i].file);
    // And the same references, from the same sections to the same headings.
    QCOMPARE(crossReferences(kLanguages[1]).found, crossReferences(kLanguages[0]).found);
}

void ManualTest::crossReferencesNameHeadings_data()
{
    QTest::addColumn<int>("language");
    for (int i = 0; i < int(std::size(kLanguages)); ++i)
        QTest::newRow(kLanguages[i].file) << i;
}

void ManualTest::crossReferencesNameHeadings()
{
    QFETCH(int, language);
    const References refs = crossReferences(kLanguages[language]);
    QVERIFY2(refs.found.size() > 20, qPrintable(refs.found.join(", ")));
    QVERIFY2(refs.faults.isEmpty(), qPrintable(refs.faults.join("\n")));
}

void ManualTest::printedManual_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << "En";
    QTest::newRow("Bulgarian") << "Bg";
}

void ManualTest::printedManual()
{
    QFETCH(QString, language);
    const ManualSource source = readSource(language);
    QVERIFY(!source.title.isEmpty());
    const PreparedBody body = prepareBody(source.body);

    QPdfDocument pdf;
    QCOMPARE(pdf.load(QStringLiteral(PALVERO_MANUAL_FOLDER "/UsrMan%1.pdf").arg(language)), QPdfDocument::Error::None);
    QVERIFY2(pdf.pageCount() >= 20, qPrintable(QString::number(pdf.pageCount())));
    QCOMPARE(pdf.metaData(QPdfDocument::MetaDataField::Title).toString(), source.title + " \u2013 " + source.subtitle);

    // Text as a viewer finds it: the letters must map back to what was written, Cyrillic too.
    QStringList pages;
    for (int p = 0; p < pdf.pageCount(); ++p)
        pages << normalised(pdf.getAllText(p).text());
    QVERIFY(pages[0].contains(source.title));
    QVERIFY(pages[0].contains(normalised(source.subtitle)));
    QVERIFY(pages[1].startsWith(source.contentsTitle));
    for (int p = 1; p < pages.size(); ++p)
        QVERIFY2(pages[p].endsWith(' ' + QString::number(p + 1)), qPrintable(QString("page %1").arg(p + 1)));

    // Every chapter and section is in the contents with a page, and starts on that page.
    static const QRegularExpression entry("^(\\d+(?:\\.\\d+)?) (.+) (\\d+)$");
    QMap<QString, int> listed;
    // Pages of the contents carry its title as their running header, just before the footer.
    const QString contentsHeader = source.contentsTitle + ' ' + normalised(source.footer);
    for (int p = 1; p < pdf.pageCount() && pages[p].contains(contentsHeader); ++p) {
        for (const QString& line : pdf.getAllText(p).text().split(QRegularExpression("[\\r\\n]+"))) {
            const auto m = entry.match(normalised(line));
            if (m.hasMatch())
                listed.insert(m.captured(1) + ' ' + m.captured(2), m.captured(3).toInt());
        }
    }
    for (const Heading& h : body.headings) {
        const QString line = h.number + ' ' + normalised(h.text);
        QVERIFY2(listed.contains(line), qPrintable("not in the contents: " + line));
        const int page = listed.value(line);
        QVERIFY2(page > 2 && page <= pages.size(), qPrintable(line));
        QVERIFY2(pages[page - 1].contains(line), qPrintable(QString("%1 is not on page %2").arg(line).arg(page)));
    }

    // Every figure with its number and caption.
    const QString all = pages.join(' ');
    for (size_t i = 0; i < body.figures.size(); ++i) {
        const QString caption = QString("%1 %2. %3").arg(source.figureWord).arg(i + 1).arg(normalised(body.figures[i].caption));
        QVERIFY2(all.contains(caption), qPrintable("missing: " + caption));
    }
}

QTEST_MAIN(ManualTest)
#include "manual_test.moc"
