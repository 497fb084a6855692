#include "Rejects.h"

#include "LdifInput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

std::uint32_t SourceTexts::Add(std::string_view text) {
    if (items_.size() >= kNone || text.size() > UINT32_MAX) return kNone;
    if (blocks_.empty() || blocks_.back().size() + text.size() > blocks_.back().capacity()) {
        // A new block, as large as the item when it is larger than a block.
        blocks_.emplace_back();
        blocks_.back().reserve(std::max(kBlockBytes, text.size()));
    }
    std::string& block = blocks_.back();
    const Item item{static_cast<std::uint32_t>(blocks_.size() - 1),
                    static_cast<std::uint32_t>(block.size()),
                    static_cast<std::uint32_t>(text.size())};
    block.append(text);
    items_.push_back(item);
    return static_cast<std::uint32_t>(items_.size() - 1);
}

std::string_view SourceTexts::operator[](std::uint32_t index) const {
    if (index >= items_.size()) return {};
    const Item& item = items_[index];
    return std::string_view(blocks_[item.block]).substr(item.offset, item.size);
}

bool ChangesReadingAtHead(std::string_view line) {
    if (line.empty()) return false;
    const auto first = static_cast<unsigned char>(line.front());
    return first == '~' || first == 0xEF || first == 0xFE || first == 0xFF || IsLdifStart(line);
}

bool RejectsFile::Open(const std::string& path) {
    name_ = path;
    platform::OpenedFile opened = platform::OpenPrivateFile(path, false);
    if (!opened.file) {
        failed_ = true;
        error_ = opened.reason;
        return false;
    }
    file_ = std::move(opened.file);
    open_ = true;
    return true;
}

void RejectsFile::SetForm(InputForm form, std::string header) {
    form_ = form;
    header_ = std::move(header);
}

void RejectsFile::Fail(std::string why) {
    if (failed_) return;
    failed_ = true;
    error_ = std::move(why);
}

bool RejectsFile::Add(std::string_view item) {
    if (!open_ || failed_) return false;
    // Every item is one line of the file: a line end inside it would make two.
    if (item.find_first_of("\r\n") != std::string_view::npos) {
        Fail("an item holds a line end");
        return false;
    }
    if (count_ == 0 && form_ == InputForm::Csv && !header_.empty()) {
        buffer_ += header_;
        if (!header_.ends_with('\n')) buffer_ += '\n';
    }
    buffer_.append(item);
    buffer_ += form_ == InputForm::Ldif ? "\n\n" : "\n";
    ++count_;
    if (buffer_.size() >= kFlushAt) return Flush();
    return true;
}

bool RejectsFile::Flush() {
    if (!open_) return false;
    if (failed_) return false;
    if (buffer_.empty()) return true;
    if (!platform::WriteAll(file_.get(), buffer_.data(), buffer_.size()))
        Fail(std::strerror(errno));
    buffer_.clear();
    return !failed_;
}

bool RejectsFile::Close() {
    if (!open_) return !failed_;
    Flush();
    if (!file_.Close()) Fail(std::strerror(errno));
    open_ = false;
    return !failed_;
}
