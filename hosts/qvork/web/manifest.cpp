// Manifest rows as JSON or TSV.
#include "hosts/qvork/web/manifest.h"

#include <nlohmann/json.hpp>

#include "hosts/qvork/web/text_escape.h"

namespace qvork_host {

bool WantsJson(const std::string &file) {
    return file.size() >= 5 && file.compare(file.size() - 5, 5, ".json") == 0;
}

std::string JsonText(const std::string &bytes) {
    return nlohmann::json(bytes).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string ManifestText(const std::vector<ManifestRow> &rows, bool json) {
    if (json) {
        nlohmann::json array = nlohmann::json::array();
        for (const ManifestRow &row : rows) {
            array.push_back({{"url", row.url},
                             {"path", row.path},
                             {"status", row.status},
                             {"content_type", row.contentType},
                             {"size", row.size},
                             {"date", row.date}});
        }
        return array.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    }
    std::string text = "url\tpath\tstatus\tcontent_type\tsize\tdate\n";
    for (const ManifestRow &row : rows) {
        text += TsvField(row.url) + "\t" + TsvField(row.path) + "\t" +
                (row.status != 0 ? std::to_string(row.status) : "") + "\t" +
                TsvField(row.contentType) + "\t" + std::to_string(row.size) + "\t" + row.date +
                "\n";
    }
    return text;
}

} // namespace qvork_host
