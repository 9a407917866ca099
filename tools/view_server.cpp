#include "view_server.h"

#include <httplib.h>

#include <bit>
#include <chrono>
#include <climits>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "frame_stats.h"
#include "ply_writer.h"
#include "png_file.h"
#include "png_writer.h"
#include "preview.h"
#include "view_frame.h"

namespace view {

namespace {

using nlohmann::json;

// Entries of the colour table the page colours distances with.
constexpr int PALETTE_SIZE = 1024;
// How long a viewer's stream waits for a frame before it sends a message
// without planes, which finds out whether the viewer is still there.
constexpr auto STREAM_HEARTBEAT = std::chrono::milliseconds(2000);
// Client addresses whose request rate is tracked before idle ones are forgotten.
constexpr size_t MAX_TRACKED_ADDRESSES = 4096;
// Threads kept for the page and the JSON interface besides the streams.
constexpr size_t API_THREADS = 8;

void fail(httplib::Response& res, int status, const std::string& error) {
    res.status = status;
    res.set_content(json{{"error", error}}.dump(), "application/json");
}

void reply(httplib::Response& res, const json& body) {
    res.set_content(body.dump(), "application/json");
}

void reply(httplib::Response& res, const Outcome& outcome, json body = json::object()) {
    if (!outcome.error.empty()) return fail(res, outcome.status, outcome.error);
    reply(res, body);
}

// The request's body as a JSON object; false (and a 400 answer) otherwise.
bool parseBody(const httplib::Request& req, httplib::Response& res, json& body) {
    body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        fail(res, 400, "the body must be a JSON object");
        return false;
    }
    return true;
}

// A control value: a whole number of the int range, or true/false.
bool controlValue(const json& v, int& value) {
    if (v.is_boolean()) {
        value = v.get<bool>() ? 1 : 0;
        return true;
    }
    if (v.is_number_unsigned()) {
        if (v.get<uint64_t>() > static_cast<uint64_t>(INT_MAX)) return false;
        value = static_cast<int>(v.get<uint64_t>());
        return true;
    }
    if (v.is_number_integer()) {
        const int64_t x = v.get<int64_t>();
        if (x < INT_MIN || x > INT_MAX) return false;
        value = static_cast<int>(x);
        return true;
    }
    return false;
}

json rgb(capture::Rgb c) {
    return json::array({c.r, c.g, c.b});
}

json palette() {
    json map = json::array();
    for (int i = 0; i < PALETTE_SIZE; ++i) {
        map.push_back(rgb(capture::colourMap(static_cast<double>(i) / (PALETTE_SIZE - 1))));
    }
    json codes = json::array();
    const std::string other = capture::codeName(capture::FIRST_PIXEL_CODE);
    for (uint32_t code = capture::FIRST_PIXEL_CODE; code <= UINT16_MAX; ++code) {
        const char* name = capture::codeName(static_cast<uint16_t>(code));
        if (name == other) continue;
        codes.push_back({{"code", code},
                         {"name", name},
                         {"colour", rgb(capture::codeColour(static_cast<uint16_t>(code)))}});
    }
    return {{"map", map},
            {"codes", codes},
            {"other", {{"name", other}, {"colour", rgb(capture::codeColour(0))}}}};
}

std::string readFile(const std::string& path, bool& ok) {
    std::ifstream in(path, std::ios::binary);
    ok = static_cast<bool>(in);
    std::ostringstream text;
    if (ok) text << in.rdbuf();
    return text.str();
}

const std::string& heartbeat() {
    static const std::string message = [] {
        std::string m(HEADER_BYTES, '\0');
        m.replace(0, 4, "OZRV");
        m[4] = static_cast<char>(MESSAGE_VERSION);
        m[6] = static_cast<char>(HEADER_BYTES);
        m[8] = static_cast<char>(HEADER_BYTES);
        return m;
    }();
    return message;
}

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ViewServer::ViewServer(CameraService& camera, ServerSettings settings)
    : camera_(camera),
      settings_(std::move(settings)),
      server_(std::make_unique<httplib::Server>()) {}

ViewServer::~ViewServer() = default;

std::string ViewServer::load() {
    const std::pair<const char*, std::pair<std::string, const char*>> wanted[] = {
        {"/index.html", {settings_.webDir + "/index.html", "text/html; charset=utf-8"}},
        {"/view.js", {settings_.webDir + "/view.js", "text/javascript; charset=utf-8"}},
        {"/view.css", {settings_.webDir + "/view.css", "text/css; charset=utf-8"}},
        {"/three.min.js", {settings_.threeDir + "/three.min.js", "text/javascript; charset=utf-8"}},
        {"/OrbitControls.js",
         {settings_.threeDir + "/examples/js/controls/OrbitControls.js",
          "text/javascript; charset=utf-8"}},
    };
    for (const auto& [path, source] : wanted) {
        bool ok = false;
        std::string body = readFile(source.first, ok);
        if (!ok) return "cannot read " + source.first;
        files_[path] = {source.second, std::move(body)};
    }
    files_["/"] = files_["/index.html"];
    routes();
    return {};
}

bool ViewServer::allowRequest(const std::string& address) {
    const double now = nowSeconds();
    std::lock_guard<std::mutex> lock(bucketsMutex_);
    if (buckets_.size() >= MAX_TRACKED_ADDRESSES && !buckets_.count(address)) {
        std::erase_if(buckets_, [&](const auto& entry) {
            return now - entry.second.lastSeconds >
                   settings_.requestBurst / settings_.requestsPerSecond;
        });
        if (buckets_.size() >= MAX_TRACKED_ADDRESSES) return false;
    }
    auto [it, added] = buckets_.try_emplace(address, Bucket{settings_.requestBurst, now});
    Bucket& b = it->second;
    b.tokens = std::min(settings_.requestBurst,
                        b.tokens + (now - b.lastSeconds) * settings_.requestsPerSecond);
    b.lastSeconds = now;
    if (b.tokens < 1.0) return false;
    b.tokens -= 1.0;
    return true;
}

void ViewServer::routes() {
    httplib::Server& s = *server_;
    s.new_task_queue = [n = settings_.maxClients + API_THREADS] {
        return new httplib::ThreadPool(n);
    };
    s.set_payload_max_length(settings_.maxBodyBytes);
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (!allowRequest(req.remote_addr)) {
            fail(res, 429, "too many requests");
            return httplib::Server::HandlerResponse::Handled;
        }
        // A page of another site may send a form or plain text here, but
        // JSON only after asking, which this server never allows.
        if (req.method == "POST" &&
            req.get_header_value("Content-Type").rfind("application/json", 0) != 0) {
            fail(res, 415, "commands are JSON: Content-Type application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        const char* text = res.status == 404   ? "not found"
                           : res.status == 413 ? "request body too large"
                           : res.status == 405 ? "method not allowed"
                                               : "bad request";
        fail(res, res.status, text);
    });
    s.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr error) {
            std::string what = "internal error";
            try {
                if (error) std::rethrow_exception(error);
            } catch (const std::exception& e) {
                what += std::string(": ") + e.what();
            } catch (...) {
            }
            fail(res, 500, what);
        });

    for (const auto& [path, file] : files_) {
        s.Get(path, [&file = file](const httplib::Request&, httplib::Response& res) {
            res.set_header("Cache-Control", "no-cache");
            res.set_content(file.second, file.first);
        });
    }

    s.Get("/stream", [this](const httplib::Request&, httplib::Response& res) {
        if (streams_.fetch_add(1) >= settings_.maxClients) {
            --streams_;
            return fail(res, 503,
                        "at most " + std::to_string(settings_.maxClients) + " viewers at once");
        }
        res.set_header("Cache-Control", "no-store");
        auto sent = std::make_shared<uint64_t>(0);
        res.set_chunked_content_provider(
            "application/octet-stream",
            [this, sent](size_t, httplib::DataSink& sink) {
                std::shared_ptr<const Published> frame = camera_.waitNewer(
                    *sent, std::chrono::duration_cast<std::chrono::milliseconds>(STREAM_HEARTBEAT));
                if (!frame) return sink.write(heartbeat().data(), heartbeat().size());
                *sent = frame->sequence;
                return sink.write(frame->message.data(), frame->message.size());
            },
            [this](bool) { --streams_; });
    });

    s.Get("/api/palette", [](const httplib::Request&, httplib::Response& res) {
        static const json colours = palette();
        reply(res, colours);
    });

    s.Get("/api/status", [this](const httplib::Request&, httplib::Response& res) {
        const CameraStatus st = camera_.status();
        json body = {{"mode", capture::modeName(st.mode)},
                     {"running", st.running},
                     {"recording", st.recording},
                     {"recording_file", st.recordingFile},
                     {"recorded_frames", st.recordedFrames},
                     {"lens", camera_.lens().has_value()},
                     {"error", st.lastError},
                     {"viewers", streams_.load()},
                     {"max_viewers", settings_.maxClients},
                     {"frame", nullptr}};
        if (auto latest = camera_.latest()) {
            body["frame"] = capture::toJson(latest->stats);
            body["frame"]["temperature_c"] =
                latest->temperatureC ? json(*latest->temperatureC) : json(nullptr);
        }
        reply(res, body);
    });

    s.Get("/api/controls", [this](const httplib::Request&, httplib::Response& res) {
        json list = json::array();
        for (const ControlValue& c : camera_.controls()) {
            list.push_back({{"name", c.name}, {"value", c.value}, {"switch", c.isSwitch}});
        }
        json modes = json::array();
        for (const auto& [name, mode] : capture::MODE_NAMES) modes.push_back(name);
        reply(res, {{"mode", capture::modeName(camera_.status().mode)},
                    {"modes", modes},
                    {"controls", list}});
    });

    s.Post("/api/control", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!parseBody(req, res, body)) return;
        if (!body.contains("name") || !body["name"].is_string()) {
            return fail(res, 400, "\"name\" must be a control's name");
        }
        const std::string name = body["name"].get<std::string>();
        int value = 0;
        if (!body.contains("value") || !controlValue(body["value"], value)) {
            return fail(res, 400, "\"value\" of " + name + " must be a whole number or a switch");
        }
        const Outcome outcome = camera_.setControl(name, value);
        reply(res, outcome, {{"name", name}, {"value", outcome.value}});
    });

    s.Post("/api/mode", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!parseBody(req, res, body)) return;
        const json name = body.value("mode", json());
        ozr::AcquisitionMode mode{};
        if (name.is_string() && capture::modeFromName(name.get<std::string>(), mode)) {
            return reply(res, camera_.setMode(mode), {{"mode", name}});
        }
        fail(res, 400, "\"mode\" must be one of dist-amp, hdr, grayscale, dcs4");
    });

    s.Post("/api/start", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, camera_.setRunning(true), {{"running", true}});
    });
    s.Post("/api/stop", [this](const httplib::Request&, httplib::Response& res) {
        reply(res, camera_.setRunning(false), {{"running", false}});
    });

    s.Post("/api/record", [this](const httplib::Request& req, httplib::Response& res) {
        json body;
        if (!parseBody(req, res, body)) return;
        const json action = body.value("action", json());
        if (action == "start") return reply(res, camera_.startRecording(), {{"recording", true}});
        if (action == "stop") return reply(res, camera_.stopRecording(), {{"recording", false}});
        fail(res, 400, "\"action\" must be \"start\" or \"stop\"");
    });

    s.Get(R"(/api/snapshot/([a-z0-9]{1,16})\.(png|ply))", [this](const httplib::Request& req,
                                                                 httplib::Response& res) {
        const std::string name = req.matches[1];
        const bool ply = req.matches[2] == "ply";
        std::shared_ptr<const Published> latest = camera_.latest();
        if (!latest) return fail(res, 503, "no frame yet");
        const ozr::TOFFrame& frame = *latest->frame;
        const std::string file =
            capture::PngFrameWriter::fileName("", latest->stats.frameNumber, name);
        std::string bytes;
        if (ply) {
            if (name != "points") return fail(res, 404, "no such snapshot");
            if (!camera_.lens()) return fail(res, 404, "the calibration has no lens");
            std::vector<float> xyz;
            std::vector<uint32_t> pixels;
            if (ozr::toPointCloud(frame, *camera_.lens(), xyz, ozr::CodedPixels::DROP, &pixels) !=
                0) {
                return fail(res, 404, "this mode has no distances");
            }
            const uint16_t* amp = frame.getData<uint16_t>(ozr::FrameType::AMPLITUDE);
            std::vector<uint16_t> amplitude(pixels.size(), 0);
            for (size_t i = 0; i < pixels.size() && amp; ++i) amplitude[i] = amp[pixels[i]];
            bytes = capture::PlyFrameWriter::plyBytes(xyz, amplitude);
        } else {
            const capture::FrameImage* image = nullptr;
            const auto images = capture::frameImages(frame, latest->stats.mode);
            for (const capture::FrameImage& i : images) {
                if (i.name == name && i.data16) image = &i;
            }
            if (!image) return fail(res, 404, "no image " + name + " in this mode");
            if (const std::string error = capture::encodeGray16Png(
                    bytes, frame.getWidth(), frame.getHeight(), image->data16);
                !error.empty()) {
                return fail(res, 500, error);
            }
        }
        const std::string download = file.substr(1, file.size() - 5) + (ply ? ".ply" : ".png");
        res.set_header("Content-Disposition", "attachment; filename=\"" + download + "\"");
        res.set_content(bytes, ply ? "application/octet-stream" : "image/png");
    });

    s.Get("/api/rays", [this](const httplib::Request&, httplib::Response& res) {
        std::shared_ptr<const Published> latest = camera_.latest();
        if (!camera_.lens()) return fail(res, 404, "the calibration has no lens");
        if (!latest) return fail(res, 503, "no frame yet");
        ozr::RayTable rays;
        if (rays.build(*camera_.lens(), latest->frame->getWidth(), latest->frame->getHeight()) !=
            0) {
            return fail(res, 404, "the lens cannot be used");
        }
        const size_t n = size_t{rays.width()} * rays.height();
        std::string bytes(n * 12, '\0');
        for (size_t i = 0; i < n; ++i) {
            const float xyz[3] = {rays.x()[i], rays.y()[i], rays.z()[i]};
            for (int c = 0; c < 3; ++c) {
                const uint32_t bits = std::bit_cast<uint32_t>(xyz[c]);
                for (int b = 0; b < 4; ++b) {
                    bytes[12 * i + 4 * c + b] = static_cast<char>((bits >> (8 * b)) & 0xFF);
                }
            }
        }
        res.set_header("X-Width", std::to_string(rays.width()));
        res.set_header("X-Height", std::to_string(rays.height()));
        res.set_content(bytes, "application/octet-stream");
    });
}

int ViewServer::bind(const std::string& address, int port) {
    if (port == 0) return server_->bind_to_any_port(address);
    return server_->bind_to_port(address, port) ? port : -1;
}

bool ViewServer::serve() {
    return server_->listen_after_bind();
}

void ViewServer::stop() {
    server_->stop();
}

}  // namespace view
