// Dialog items as data: text form, edits, and command-line presets.
#include "hosts/qvork/dialog_items.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "hosts/qvork/host_services.h"

namespace qvork_host {

namespace {

bool ContainsWord(const std::string &text, const char *word) {
    std::string lower;
    for (char c : text) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lower.find(word) != std::string::npos;
}

int FieldWidth(const FarDialogItem &item) {
    int width = item.X2 - item.X1 + 1;
    const int maskWidth = static_cast<int>(ItemMask(item).size());
    return std::max({width, maskWidth, 1});
}

std::string ItemForm(const FarDialogItem &item) {
    const std::string text = ItemText(item);
    switch (item.Type) {
    case DI_CHECKBOX:
        return std::string(item.Selected ? "[x] " : "[ ] ") + text;
    case DI_FIXEDIT: {
        std::string shown = text;
        shown.resize(std::max<size_t>(shown.size(), static_cast<size_t>(FieldWidth(item))), ' ');
        return "[" + shown + "]";
    }
    case DI_BUTTON:
        return "<" + text + ">";
    default:
        return text;
    }
}

// A check box found by a word of its text, or -1.
int FindCheckBox(const FarDialogItem *items, int count, const char *word) {
    for (int i = 0; i < count; ++i) {
        if (items[i].Type == DI_CHECKBOX && ContainsWord(ItemText(items[i]), word)) {
            return i;
        }
    }
    return -1;
}

int FindEditField(const FarDialogItem *items, int count) {
    for (int i = 0; i < count; ++i) {
        if (items[i].Type == DI_FIXEDIT) {
            return i;
        }
    }
    return -1;
}

} // namespace

std::string ItemText(const FarDialogItem &item) { return FieldText(item.Data, sizeof(item.Data)); }

bool IsInteractive(const FarDialogItem &item) {
    return item.Type == DI_CHECKBOX || item.Type == DI_FIXEDIT || item.Type == DI_BUTTON;
}

std::string ItemMask(const FarDialogItem &item) {
    if (item.Type != DI_FIXEDIT || (item.Flags & DIF_MASKEDIT) == 0 || item.Mask == nullptr) {
        return std::string();
    }
    return FieldText(item.Mask, 80);
}

bool SetFieldText(FarDialogItem &item, const std::string &text, std::string &error) {
    const std::string mask = ItemMask(item);
    const size_t width = static_cast<size_t>(FieldWidth(item));
    if (text.size() > width || text.size() >= sizeof(item.Data)) {
        error = "at most " + std::to_string(width) + " character(s) fit this field";
        return false;
    }
    for (size_t i = 0; i < text.size() && i < mask.size(); ++i) {
        const bool digitOnly = mask[i] == '9' || mask[i] == '#';
        if (digitOnly && !std::isdigit(static_cast<unsigned char>(text[i])) && text[i] != ' ') {
            error = "this field takes digits only";
            return false;
        }
    }
    std::memset(item.Data, 0, sizeof(item.Data));
    std::memcpy(item.Data, text.data(), text.size());
    return true;
}

std::string DescribeDialog(const FarDialogItem *items, int count, bool numbered) {
    std::vector<int> order;
    std::string out;
    for (int i = 0; i < count; ++i) {
        if (items[i].Type == DI_DOUBLEBOX) {
            out += "== " + ItemText(items[i]) + " ==\n";
        } else {
            order.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(), [items](int a, int b) {
        return items[a].Y1 != items[b].Y1 ? items[a].Y1 < items[b].Y1 : items[a].X1 < items[b].X1;
    });
    for (size_t k = 0; k < order.size();) {
        const int row = items[order[k]].Y1;
        std::string line;
        for (; k < order.size() && items[order[k]].Y1 == row; ++k) {
            const FarDialogItem &item = items[order[k]];
            if (!line.empty()) {
                line += item.Type == DI_BUTTON ? "  " : " ";
            }
            if (numbered && IsInteractive(item)) {
                line += std::to_string(order[k]) + ") ";
            }
            line += ItemForm(item);
        }
        out += "  " + line + "\n";
    }
    return out;
}

int FindAcceptButton(const FarDialogItem *items, int count) {
    int first = -1;
    for (int i = 0; i < count; ++i) {
        if (items[i].Type != DI_BUTTON) {
            continue;
        }
        if (items[i].DefaultButton) {
            return i;
        }
        if (first < 0) {
            first = i;
        }
    }
    return first;
}

int ApplyDialogPreset(FarDialogItem *items, int count, const DialogPreset &preset,
                      std::string &error) {
    struct Toggle {
        const std::optional<bool> &value;
        const char *word;
        const char *option;
    };
    const Toggle toggles[] = {{preset.disksMenu, "disks", "--disks-menu"},
                              {preset.pluginsMenu, "plugins", "--plugins-menu"}};
    for (const Toggle &toggle : toggles) {
        if (!toggle.value) {
            continue;
        }
        const int index = FindCheckBox(items, count, toggle.word);
        if (index < 0) {
            error = std::string("the dialog has no check box for ") + toggle.option;
            return -1;
        }
        items[index].Selected = *toggle.value ? 1 : 0;
    }
    if (preset.digit) {
        const int index = FindEditField(items, count);
        if (index < 0) {
            error = "the dialog has no field for --digit";
            return -1;
        }
        std::string why;
        if (!SetFieldText(items[index], *preset.digit, why)) {
            error = "--digit: " + why;
            return -1;
        }
    }
    const int accept = FindAcceptButton(items, count);
    if (accept < 0) {
        error = "the dialog has no button to accept it";
    }
    return accept;
}

} // namespace qvork_host
