// SPDX-License-Identifier: GPL-2.0-or-later
#include "TestSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "dsp/Resampler.h"
#include "platform/Platform.h"

Bytes ReadFixture(const std::string &name)
{
    const std::string path = std::string(VORLIX_TEST_DATA) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("missing fixture " + path);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

Decoded DecodeStream(const Bytes &file, const ChunkSizes &chunks, bool init)
{
    if (init)
        Init(0, nullptr);
    Bytes stream = file;
    stream.insert(stream.end(), 8, 0);

    Decoded result;
    Bytes buffer;
    std::vector<uint8_t> out(VORLIX_MAX_OUTPUT_BYTES);
    size_t start = 0, end = 0;
    while (end < stream.size()) {
        end = std::min(stream.size(), end + std::max<size_t>(1, chunks()));
        buffer.assign(stream.begin() + static_cast<long>(start), stream.begin() + static_cast<long>(end));
        int32_t bytes = -1, position = -1;
        int32_t r = DecompressAudio(buffer.data(), static_cast<int32_t>(buffer.size()), out.data(),
                                    0, &bytes, &position);
        while (r == 0) {
            if (bytes > 0) {
                result.pcm.insert(result.pcm.end(), out.begin(), out.begin() + bytes);
                result.positions.push_back(position);
            } else {
                ++result.dropped;
            }
            r = DecompressAudio(nullptr, static_cast<int32_t>(buffer.size()), out.data(), 0,
                                &bytes, &position);
        }
        start += static_cast<size_t>(state.consumed);
    }
    return result;
}

Decoded DecodeStream(const Bytes &stream, size_t chunk, bool init)
{
    return DecodeStream(stream, [chunk] { return chunk; }, init);
}

void ReferenceDecode(const Bytes &file, const std::function<void(mad_frame &)> &beforeSynthesis,
                     const std::function<void(const mad_pcm &)> &afterSynthesis)
{
    Bytes stream = file;
    stream.insert(stream.end(), 8, 0);
    mad_stream s;
    mad_frame f;
    mad_synth y;
    mad_stream_init(&s);
    mad_frame_init(&f);
    mad_synth_init(&y);
    mad_stream_buffer(&s, stream.data(), stream.size());
    for (;;) {
        if (mad_frame_decode(&f, &s) == -1) {
            if (s.error == MAD_ERROR_BUFLEN)
                break;
            s.sync = 0;
            continue;
        }
        beforeSynthesis(f);
        mad_synth_frame(&y, &f);
        afterSynthesis(y.pcm);
    }
    mad_frame_finish(&f);
    mad_stream_finish(&s);
}

std::vector<ReferenceFrame> ReferenceSynthesis(const Bytes &file)
{
    std::vector<ReferenceFrame> frames;
    ReferenceDecode(file, [](mad_frame &) {}, [&](const mad_pcm &pcm) {
        ReferenceFrame r{pcm.channels, pcm.samplerate, {}, {}};
        r.left.assign(pcm.samples[0], pcm.samples[0] + pcm.length);
        if (pcm.channels == 2)
            r.right.assign(pcm.samples[1], pcm.samples[1] + pcm.length);
        frames.push_back(std::move(r));
    });
    return frames;
}

#ifdef VORLIX_LIBRARY
#include "Instance.h"

// The tests link libvorlix's code into themselves: the file library's
// private copies of the decoder are made from the shared object beside them.
namespace {
const bool libraryNamed = (UseLibraryFile(VORLIX_LIBRARY), true);
}
#endif

namespace {

int16_t OutputOne(int32_t s, int32_t &residue, int32_t &peak)
{
    int64_t a = int64_t{s} + residue;
    a = std::clamp<int64_t>(a, INT32_MIN, INT32_MAX);
    const int64_t v = std::clamp<int64_t>(a, -0x10000000, 0x0fffffff);
    const int64_t excess = a > v ? a - v : v - a;
    if (excess > peak && residue < 0x8000 && residue > -0x8000)
        peak = static_cast<int32_t>(excess);
    const int64_t q = v - (v & 0x1fff);  // floor to a multiple of 0x2000
    residue = static_cast<int32_t>(v - q);  // what the clipped value lost
    return static_cast<int16_t>(q / 0x2000);
}

} // namespace

int32_t ReferenceOutput::Write(Bytes &out, const std::vector<int32_t> &left,
                               const std::vector<int32_t> *right)
{
    int32_t peak = 0;
    for (size_t i = 0; i < left.size(); ++i) {
        const int16_t l = OutputOne(left[i], residue[0], peak);
        out.push_back(static_cast<uint8_t>(l & 0xff));
        out.push_back(static_cast<uint8_t>((l >> 8) & 0xff));
        if (right) {
            const int16_t r = OutputOne((*right)[i], residue[1], peak);
            out.push_back(static_cast<uint8_t>(r & 0xff));
            out.push_back(static_cast<uint8_t>((r >> 8) & 0xff));
        }
    }
    return peak;
}

std::vector<size_t> FrameOffsets(const Bytes &stream)
{
    Bytes padded = stream;
    padded.insert(padded.end(), 8, 0);
    mad_stream s;
    mad_header h;
    mad_stream_init(&s);
    mad_header_init(&h);
    mad_stream_buffer(&s, padded.data(), padded.size());
    std::vector<size_t> offsets;
    for (;;) {
        if (mad_header_decode(&h, &s) == -1) {
            if (s.error == MAD_ERROR_BUFLEN)
                break;
            continue;
        }
        offsets.push_back(static_cast<size_t>(s.this_frame - s.buffer));
    }
    mad_stream_finish(&s);
    return offsets;
}

std::vector<mad_fixed_t> ConvertFresh(const std::vector<mad_fixed_t> &in, uint32_t from, uint32_t to)
{
    Resampler r{};
    if (ResamplerInit(&r, from, to) != 0)
        return in;
    std::vector<mad_fixed_t> out(ResampleBound(&r, static_cast<uint32_t>(in.size())) + 1);
    if (in.size() < 2 && r.ratio != 0x10000000)
        return {};
    out.resize(static_cast<size_t>(Resample(&r, static_cast<int32_t>(in.size()), in.data(), out.data())));
    return out;
}
