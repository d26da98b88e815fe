// facefinder.cpp - BlazeFace: the frame fitted to the model's square, its answers decoded
// from the model's fixed anchors, and overlapping answers merged.
//
// The model takes one RGB square (NHWC, values -1..1) and answers, for each of its 896
// anchors, a score (a logit) and a box relative to the anchor, in the square's pixels. The
// anchors lie on two grids, 2 per cell on the finer one and 6 per cell on the coarser, in
// row order; each anchor stands at its cell's centre.
#include "facefinder.h"

#include "hosterror.h"

#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <unistd.h>

namespace fxhost::analysis {

namespace {

// Answers overlapping by more than this are one face.
constexpr double kSameFace = 0.3;
// A frame larger than this many model squares on its long side is searched in tiles too.
constexpr double kTileAbove = 1.6;

// The anchor grids: 16 x 16 cells of 2 anchors and 8 x 8 cells of 6.
constexpr int kFine = 16, kCoarse = 8;
constexpr int kFineAnchors = kFine * kFine * 2, kCoarseAnchors = kCoarse * kCoarse * 6;

struct Anchor {
    float x, y; // the square's fractions
};

std::vector<Anchor> Anchors(int fine, int coarse) {
    std::vector<Anchor> a;
    const auto grid = [&](int n, int perCell) {
        for (int row = 0; row < n; ++row) {
            for (int col = 0; col < n; ++col) {
                for (int k = 0; k < perCell; ++k) {
                    a.push_back({(col + 0.5f) / n, (row + 0.5f) / n});
                }
            }
        }
    };
    grid(fine, 2);
    grid(coarse, 6);
    return a;
}

// Overlapping answers merged into one, their boxes averaged by score (steadier than keeping
// the best alone from frame to frame); best first.
std::vector<FoundFace> Merge(std::vector<FoundFace> all) {
    std::sort(all.begin(), all.end(),
              [](const FoundFace& a, const FoundFace& b) { return a.score > b.score; });
    std::vector<FoundFace> faces;
    std::vector<bool> taken(all.size(), false);
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (taken[i]) {
            continue;
        }
        double weight = 0, x = 0, y = 0, w = 0, h = 0;
        for (std::size_t j = i; j < all.size(); ++j) {
            if (!taken[j] && Overlap(all[i].box, all[j].box) > kSameFace) {
                taken[j] = true;
                const double s = all[j].score;
                const cv::Rect2d& b = all[j].box;
                weight += s, x += s * b.x, y += s * b.y, w += s * b.width, h += s * b.height;
            }
        }
        faces.push_back({{x / weight, y / weight, w / weight, h / weight}, all[i].score});
    }
    return faces;
}

// Overlapping squares covering the frame, about two model squares' worth of it each.
std::vector<cv::Rect> Tiles(const cv::Size& frame, int square) {
    std::vector<cv::Rect> tiles;
    const int side = std::min({frame.width, frame.height, 2 * square});
    const auto starts = [&](int length) {
        const int n = int(std::ceil(double(length - side) / (0.75 * side))) + 1;
        std::vector<int> at;
        for (int i = 0; i < n; ++i) {
            at.push_back(n == 1 ? 0 : int(std::lround(double(length - side) * i / (n - 1))));
        }
        return at;
    };
    for (int y : starts(frame.height)) {
        for (int x : starts(frame.width)) {
            tiles.emplace_back(x, y, side, side);
        }
    }
    return tiles;
}

bool Readable(const std::filesystem::path& p) {
    return !p.empty() && access(p.c_str(), R_OK) == 0;
}

} // namespace

struct FaceFinder::Model {
    cv::dnn::Net net;
    std::vector<std::string> outputs;
    std::vector<Anchor> anchors;
    int square = 0;
    double threshold = 0.5;
    bool tiles = false;

    void search(const cv::Mat& bgr, const cv::Rect& part, std::vector<FoundFace>& found);
};

void FaceFinder::Model::search(const cv::Mat& bgr, const cv::Rect& part,
                               std::vector<FoundFace>& found) {
    const double scale = double(square) / std::max(part.width, part.height);
    const cv::Size fitted(std::max(1, int(std::lround(part.width * scale))),
                          std::max(1, int(std::lround(part.height * scale))));
    cv::Mat input(square, square, CV_8UC3, cv::Scalar::all(0)), rgb;
    cv::resize(bgr(part), input(cv::Rect({0, 0}, fitted)), fitted, 0, 0, cv::INTER_AREA);
    cv::cvtColor(input, rgb, cv::COLOR_BGR2RGB);
    cv::Mat blob;
    rgb.convertTo(blob, CV_32FC3, 2.0 / 255, -1);
    net.setInput(blob.reshape(1, {1, square, square, 3}));
    std::vector<cv::Mat> out;
    net.forward(out, outputs);
    // Two score outputs (N x 1) and two box outputs (N x 16), the finer grid's the longer.
    const cv::Mat *scores[2] = {}, *boxes[2] = {};
    for (const cv::Mat& o : out) {
        const int n = o.dims == 3 ? o.size[1] : 0, values = o.dims == 3 ? o.size[2] : 0;
        const int grid = n == kFineAnchors ? 0 : n == kCoarseAnchors ? 1 : -1;
        if (grid >= 0 && (values == 1 || values == 16)) {
            (values == 1 ? scores : boxes)[grid] = &o;
        }
    }
    if (!scores[0] || !scores[1] || !boxes[0] || !boxes[1]) {
        throw HostError(ErrorKind::Input, "the face model does not answer as BlazeFace does");
    }
    std::size_t a = 0;
    for (int g = 0; g < 2; ++g) {
        const float* s = scores[g]->ptr<float>();
        const float* b = boxes[g]->ptr<float>();
        for (int i = 0; i < scores[g]->size[1]; ++i, ++a) {
            const double score = 1 / (1 + std::exp(-std::clamp(double(s[i]), -80.0, 80.0)));
            if (score < threshold) {
                continue;
            }
            const float* r = b + 16 * i;
            const double cx = anchors[a].x + r[0] / square, cy = anchors[a].y + r[1] / square;
            const double w = r[2] / square, h = r[3] / square;
            const double unit = square / scale;
            found.push_back({{part.x + (cx - w / 2) * unit, part.y + (cy - h / 2) * unit, w * unit,
                              h * unit},
                             score});
        }
    }
}

FaceFinder::FaceFinder(const std::filesystem::path& model, double threshold, bool tiles)
    : m_(std::make_unique<Model>()) {
    m_->tiles = tiles;
    if (!Readable(model)) {
        throw HostError(ErrorKind::Input, "cannot read the face model " + model.string());
    }
    try {
        m_->net = cv::dnn::readNetFromONNX(model.string());
    } catch (const cv::Exception&) {
        throw HostError(ErrorKind::Input, model.string() + " is not a face model fxhost can use");
    }
    m_->outputs = m_->net.getUnconnectedOutLayersNames();
    m_->threshold = threshold;
    m_->square = model.filename().string().find("128") != std::string::npos ? 128 : 256;
    m_->anchors = Anchors(kFine, kCoarse);
    if (m_->outputs.size() != 4) {
        throw HostError(ErrorKind::Input, model.string() + " is not a face model fxhost can use");
    }
}

FaceFinder::~FaceFinder() = default;

std::vector<FoundFace> FaceFinder::find(const cv::Mat& bgr) {
    std::vector<FoundFace> found;
    const cv::Rect whole(0, 0, bgr.cols, bgr.rows);
    m_->search(bgr, whole, found);
    if (m_->tiles && std::max(bgr.cols, bgr.rows) > kTileAbove * m_->square) {
        for (const cv::Rect& tile : Tiles(bgr.size(), m_->square)) {
            m_->search(bgr, tile, found);
        }
    }
    return Merge(std::move(found));
}

double Overlap(const cv::Rect2d& a, const cv::Rect2d& b) {
    const double both = (a & b).area();
    return both <= 0 ? 0 : both / (a.area() + b.area() - both);
}

std::filesystem::path DefaultFaceModel() {
    const char* name = "blazeface/face_detection_back_256x256_barracuda.onnx";
    std::vector<std::filesystem::path> places;
    if (const char* dir = std::getenv("TESSERA_MODEL_DIR"); dir && *dir) {
        places.emplace_back(dir);
    }
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        places.push_back(self.parent_path().parent_path() / "share/tessera/models");
    }
    places.emplace_back("/usr/local/share/tessera/models");
    places.emplace_back("/usr/share/tessera/models");
    for (const auto& dir : places) {
        if (Readable(dir / name)) {
            return dir / name;
        }
    }
    return {};
}

} // namespace fxhost::analysis
