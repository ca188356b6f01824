#include "MetricsText.h"

#include <prometheus/text_serializer.h>

#include <zlib.h>

void MetricsText::Add(std::weak_ptr<prometheus::Collectable> collectable)
{
    collectables_.push_back(std::move(collectable));
}

std::shared_ptr<const std::string> MetricsText::Get(bool gzip)
{
    const auto now = std::chrono::steady_clock::now();
    if (!plain_ || now - made_ >= kReuse) {
        std::vector<prometheus::MetricFamily> families;
        for (const auto& weak : collectables_) {
            if (const auto collectable = weak.lock()) {
                std::vector<prometheus::MetricFamily> more = collectable->Collect();
                families.insert(families.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
            }
        }
        plain_ = std::make_shared<const std::string>(prometheus::TextSerializer().Serialize(families));
        gzip_.reset();
        made_ = now;
    }
    if (!gzip)
        return plain_;
    if (!gzip_)
        gzip_ = std::make_shared<const std::string>(Gzip(*plain_));
    return gzip_;
}

std::string Gzip(const std::string& text)
{
    z_stream z{};
    // 15 window bits, +16: a gzip header and trailer, not zlib's
    if (deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&z, uLong(text.size())) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = uInt(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    const int r = deflate(&z, Z_FINISH);
    out.resize(r == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}
