// The report as a PDF file: written whole or not at all, with a text layer that gives
// back the characters drawn.
#include "model/AtomicFile.h"
#include "report/render/ReportRenderer.h"

#include <QBuffer>
#include <QPdfWriter>

#include <string_view>
#include <utility>

namespace pmx {

namespace {

// The character a glyph stands for in the PDF's text layer, for one that the writer got
// wrong: of the characters a glyph serves it takes the lowest, so a blank comes back as a
// tab and ideographs that share their glyph with a Kangxi radical (目, 見, 生...) as the
// radical. The report draws neither tabs nor radicals.
uint drawnCharacter(uint mapped) {
    if (mapped == 0x0009)
        return 0x0020;
    if (mapped >= 0x2E80 && mapped <= 0x2FDF) {
        const QString unified =
            QString(QChar(char16_t(mapped))).normalized(QString::NormalizationForm_KC);
        if (unified.size() == 1)
            return unified.at(0).unicode();
    }
    return mapped;
}

} // namespace

// Rewrites the glyph-to-character maps (ToUnicode CMaps) of a PDF with drawnCharacter.
// Each code keeps its four hex digits, so no offset in the file moves.
void correctTextLayer(QByteArray& pdf) {
    auto fix = [&](qsizetype at) { // `at` is the '<' of a "<XXXX>" target code
        if (at + 5 >= pdf.size() || pdf[at + 5] != '>')
            return;
        bool ok = false;
        const uint mapped = pdf.mid(at + 1, 4).toUInt(&ok, 16);
        const uint drawn = ok ? drawnCharacter(mapped) : mapped;
        if (drawn != mapped)
            pdf.replace(at + 1, 4, QByteArray::number(drawn, 16).rightJustified(4, '0').toUpper());
    };
    for (const auto& [begin, end] :
         {std::pair{"beginbfchar", "endbfchar"}, std::pair{"beginbfrange", "endbfrange"}}) {
        const bool ranges = begin == std::string_view("beginbfrange");
        for (qsizetype from = pdf.indexOf(begin); from >= 0; from = pdf.indexOf(begin, from)) {
            const qsizetype stop = pdf.indexOf(end, from);
            if (stop < 0)
                break;
            // One entry a line: "<src> <dst>", "<first> <last> [<dst> ...]" or
            // "<first> <last> <dst>" (a run of consecutive characters, left alone unless
            // it maps a single code).
            for (qsizetype line = pdf.indexOf('\n', from) + 1; line > 0 && line < stop;) {
                qsizetype next = pdf.indexOf('\n', line);
                if (next < 0 || next > stop)
                    next = stop;
                QList<qsizetype> codes;
                for (qsizetype i = pdf.indexOf('<', line); i >= 0 && i < next;
                     i = pdf.indexOf('<', i + 1))
                    codes.append(i);
                const bool array = pdf.mid(line, next - line).contains('[');
                if (!ranges && codes.size() == 2)
                    fix(codes[1]);
                else if (ranges && array)
                    for (qsizetype k = 2; k < codes.size(); ++k)
                        fix(codes[k]);
                else if (ranges && codes.size() == 3 &&
                         pdf.mid(codes[0], 6) == pdf.mid(codes[1], 6))
                    fix(codes[2]);
                line = next + 1;
            }
            from = stop;
        }
    }
}

bool ReportRenderer::renderPdf(const ReportModel& model, QByteArray* pdf, QString* error,
                               const QPageLayout& layout) {
    pdf->clear();
    bool drawn = false;
    {
        QBuffer buffer(pdf);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setPageLayout(layout);
        writer.setTitle(model.captions().title);
        writer.setCreator(QStringLiteral("PMX-31570A"));
        drawn = render(&writer, model);
    } // the writer finishes the document when its painter ends
    if (!drawn) {
        pdf->clear();
        if (error)
            *error = strings::text(TextId::PdfNotWritten);
        return false;
    }
    correctTextLayer(*pdf);
    return true;
}

bool ReportRenderer::renderPdf(const ReportModel& model, const QString& path, QString* error,
                               const QPageLayout& layout) {
    QByteArray pdf;
    return renderPdf(model, &pdf, error, layout) && writeFileAtomically(path, pdf, error);
}

} // namespace pmx
