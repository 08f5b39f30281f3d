#include "report/report_output.h"

#include "report/export_report.h"
#include "report/pdf_report.h"

#include <algorithm>
#include <cctype>
#include <memory>

#include <unistd.h>

ReportResult WriteReport(DatabaseSession *db, const ReportJob &job, const std::vector<ReportOutput> &outputs,
                         ReportProgress *progress, bool firstPageOnly)
{
    std::vector<std::unique_ptr<AtomicFile>> files;
    std::vector<std::unique_ptr<ReportSink>> sinks;
    std::vector<ReportSink *> sinkList;
    PdfReportSink *pdf = nullptr;
    for (const ReportOutput &o : outputs) {
        files.push_back(std::make_unique<AtomicFile>(o.path));
        AtomicFile &file = *files.back();
        if (o.format == "pdf") {
            auto sink = std::make_unique<PdfReportSink>(file, firstPageOnly);
            pdf = sink.get();
            sinks.push_back(std::move(sink));
        } else if (o.format == "csv") {
            sinks.push_back(std::make_unique<CsvReportSink>(file));
        } else if (o.format == "xlsx") {
            sinks.push_back(std::make_unique<XlsxReportSink>(file));
        } else {
            throw Exception("Formato de relatório desconhecido: '" + o.format + "'.");
        }
        sinkList.push_back(sinks.back().get());
    }

    BandEngine engine(job.heading, job.layout, job.productMask, sinkList, progress);
    if (db)
        db->QueryRows(job.statement, job.values, engine);
    else
        engine.Columns(LayoutFieldNames(job.layout));
    engine.Finish(job.sections.empty());
    for (std::size_t i = 0; i < job.sections.size(); ++i) {
        const ReportJobSection &part = job.sections[i];
        BandEngine section(job.heading, part.layout, job.productMask, sinkList, progress, part.title);
        if (db)
            db->QueryRows(part.statement, part.values, section);
        else
            section.Columns(LayoutFieldNames(part.layout));
        section.Finish(i + 1 == job.sections.size());
    }
    ReportResult result;
    result.rows = engine.Rows();
    result.pages = pdf ? pdf->Pages() : 0;
    sinks.clear();  // every writer has let go of its file
    for (std::size_t i = 0; i < files.size(); ++i) {
        try {
            files[i]->Commit();
        } catch (...) {
            for (std::size_t k = 0; k < i; ++k)
                ::unlink(outputs[k].path.c_str());  // all of the run or none of it
            throw;
        }
    }
    return result;
}

std::vector<std::string> ParseReportFormats(const std::string &list)
{
    std::vector<std::string> formats;
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t comma = list.find(',', start);
        if (comma == std::string::npos)
            comma = list.size();
        std::string name;
        for (char c : list.substr(start, comma - start))
            if (!std::isspace(static_cast<unsigned char>(c)))
                name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        start = comma + 1;
        if (name.empty())
            continue;
        if (name != "pdf" && name != "csv" && name != "xlsx")
            throw Exception("Formato de relatório desconhecido: '" + name + "' (use pdf, csv ou xlsx).");
        if (std::find(formats.begin(), formats.end(), name) == formats.end())
            formats.push_back(name);
    }
    return formats;
}
