// face_finders.cpp - the face detectors this machine can install, compared on real footage:
// BlazeFace (fxhost's FaceFinder) and opencv-data's Haar and LBP cascades, each on every
// tenth frame of OpenCV's sample film at 640 pixels wide, against the faces listed by hand in
// tests/fxhost/megamind-faces.txt. Prints per detector the faces found (a box holding the
// listed centre), the boxes that hold no listed face, and the time per frame.
//   face_finders [FACE_LIST]
#include "facefinder.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Centres = std::vector<cv::Point2d>;
using Finder = std::function<std::vector<cv::Rect2d>(const cv::Mat&)>;

std::map<int, Centres> ReadList(const char* path) {
    std::ifstream file(path);
    std::map<int, Centres> list;
    for (std::string line; std::getline(file, line);) {
        std::istringstream in(line);
        int frame = 0;
        if (line.empty() || line[0] == '#' || !(in >> frame)) {
            continue;
        }
        for (double x, y; in >> x >> y;) {
            list[frame].emplace_back(x, y);
        }
    }
    return list;
}

Finder Cascade(const std::string& file) {
    auto cascade = std::make_shared<cv::CascadeClassifier>(file);
    if (cascade->empty()) {
        return nullptr;
    }
    return [cascade](const cv::Mat& bgr) {
        cv::Mat gray;
        cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
        cv::equalizeHist(gray, gray);
        std::vector<cv::Rect> found;
        cascade->detectMultiScale(gray, found, 1.1, 3, 0, {24, 24});
        return std::vector<cv::Rect2d>(found.begin(), found.end());
    };
}

} // namespace

int main(int argc, char** argv) {
    const auto list = ReadList(argc > 1 ? argv[1] : FACE_LIST);
    const char* film = "/usr/share/doc/opencv-doc/examples/data/Megamind.avi";
    fxhost::analysis::FaceFinder blaze(fxhost::analysis::DefaultFaceModel(), 0.5, false);
    std::vector<std::pair<std::string, Finder>> finders = {
        {"BlazeFace (back, 256)", [&](const cv::Mat& bgr) {
             std::vector<cv::Rect2d> boxes;
             for (const auto& f : blaze.find(bgr)) {
                 boxes.push_back(f.box);
             }
             return boxes;
         }}};
    const std::string data = "/usr/share/opencv4/";
    for (const char* name : {"haarcascades/haarcascade_frontalface_default.xml",
                             "haarcascades/haarcascade_frontalface_alt2.xml",
                             "lbpcascades/lbpcascade_frontalface_improved.xml"}) {
        if (Finder f = Cascade(data + name)) {
            finders.emplace_back(name, f);
        }
    }
    std::vector<int> hits(finders.size()), others(finders.size());
    std::vector<double> seconds(finders.size());
    int faces = 0, frames = 0;
    cv::VideoCapture capture(film);
    cv::Mat frame, small;
    for (int n = 0; capture.read(frame); ++n) {
        const auto it = list.find(n);
        if (it == list.end()) {
            continue;
        }
        cv::resize(frame, small, {640, frame.rows * 640 / frame.cols}, 0, 0, cv::INTER_AREA);
        faces += int(it->second.size());
        ++frames;
        for (std::size_t d = 0; d < finders.size(); ++d) {
            const auto start = std::chrono::steady_clock::now();
            const std::vector<cv::Rect2d> boxes = finders[d].second(small);
            seconds[d] += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            std::vector<bool> used(boxes.size());
            for (const cv::Point2d& c : it->second) {
                const cv::Point2d p(c.x * small.cols, c.y * small.rows);
                for (std::size_t k = 0; k < boxes.size(); ++k) {
                    if (boxes[k].contains(p)) {
                        ++hits[d];
                        used[k] = true;
                        break;
                    }
                }
            }
            others[d] += int(std::count(used.begin(), used.end(), false));
        }
    }
    std::printf("%-50s %8s %8s %10s\n", "detector", "found", "others", "ms/frame");
    for (std::size_t d = 0; d < finders.size(); ++d) {
        std::printf("%-50s %4d/%-3d %8d %10.1f\n", finders[d].first.c_str(), hits[d], faces,
                    others[d], 1000 * seconds[d] / std::max(frames, 1));
    }
}
