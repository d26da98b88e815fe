// facefinder.h - faces found in one picture, by MediaPipe's BlazeFace on OpenCV's DNN module.
//
// Owns: FaceFinder, which loads the BlazeFace model (ONNX) once and finds the faces in a
// frame. Promises: find() returns each face once (overlapping answers are merged), as a box
// in the frame's pixels with a score 0..1, best first; a frame of any size and shape is
// searched whole (letterboxed to the model's square), and a frame much larger than the model
// is searched again in overlapping tiles, so that faces small in a wide frame are found.
// A model that cannot be read is a HostError (Input) naming the file.
#pragma once

#include <opencv2/core.hpp>

#include <filesystem>
#include <memory>
#include <vector>

namespace fxhost::analysis {

struct FoundFace {
    cv::Rect2d box; // frame pixels
    double score = 0;
};

class FaceFinder {
  public:
    // `model` is one of BlazeFace's ONNX files (the 256-pixel "back" model or the 128-pixel
    // "front" one); answers scoring under `threshold` are dropped.
    FaceFinder(const std::filesystem::path& model, double threshold, bool tiles);
    ~FaceFinder();
    FaceFinder(const FaceFinder&) = delete;
    FaceFinder& operator=(const FaceFinder&) = delete;

    std::vector<FoundFace> find(const cv::Mat& bgr);

  private:
    struct Model;
    std::unique_ptr<Model> m_;
};

// Intersection over union of two boxes: 0 when they do not meet, 1 when they are one.
double Overlap(const cv::Rect2d& a, const cv::Rect2d& b);

// The model fxhost uses when none is named: the first of $TESSERA_MODEL_DIR, share/tessera/
// models beside the program's folder, /usr/local/share and /usr/share that holds it; empty
// when none does.
std::filesystem::path DefaultFaceModel();

} // namespace fxhost::analysis
