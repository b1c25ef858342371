// Generated, truncated and failing streams for the control's
// IPersistStreamInit::Load: the result follows the first read that goes
// wrong, and the extent and the dirty flag are either those of a complete
// load or left exactly as they were, never half changed.
#include <cstdio>
#include <cstring>
#include <random>

#include "dialer_test_support.h"
#include "faulty_stream.h"

using Microsoft::WRL::ComPtr;
using namespace dialer_test;
using reliability::FaultyStream;

namespace {

constexpr unsigned kSeed = 3305;
constexpr int kStreams = 20000;
constexpr DWORD kVersion = 0x800;

std::string Bytes(DWORD value) {
    std::string bytes(4, '\0');
    std::memcpy(bytes.data(), &value, 4);
    return bytes;
}

struct Case {
    std::string data;
    std::size_t troubleAt = 0;
    FaultyStream::Trouble trouble = FaultyStream::Trouble::None;
    HRESULT failure = S_OK;
};

struct Expected {
    HRESULT hr = S_OK;        // exact unless anyFailure
    bool anyFailure = false;  // a short read: a failure, its code open
    int reads = 0;
    DWORD cx = 0;
    DWORD cy = 0;
};

// Load reads the version, the width and the height, four bytes each, and
// stops at the first read that does not deliver its four bytes.
Expected Model(const Case& c) {
    const bool troubled = c.trouble != FaultyStream::Trouble::None && c.troubleAt <= c.data.size();
    const std::size_t limit = troubled ? c.troubleAt : c.data.size();
    Expected expected;
    DWORD fields[3] = {};
    for (int field = 0; field < 3; ++field) {
        ++expected.reads;
        const std::size_t end = 4 * static_cast<std::size_t>(field) + 4;
        if (end > limit) {
            if (troubled && c.trouble == FaultyStream::Trouble::Fails) {
                expected.hr = c.failure;
            } else {
                expected.anyFailure = true;
            }
            return expected;
        }
        std::memcpy(&fields[field], c.data.data() + end - 4, 4);
        if (field == 0 && fields[0] > kVersion) {
            expected.hr = E_FAIL;
            return expected;
        }
    }
    expected.cx = fields[1];
    expected.cy = fields[2];
    return expected;
}

class CaseGenerator {
public:
    explicit CaseGenerator(unsigned seed) : m_random(seed) {}

    Case Next() {
        Case c;
        if (Pick(5) == 0) {
            // Any bytes at all.
            const std::size_t length = Pick(17);
            for (std::size_t i = 0; i < length; ++i) {
                c.data += static_cast<char>(Pick(256));
            }
        } else {
            static const DWORD versions[] = {kVersion, kVersion, kVersion,   0x7FF,
                                             0,        0x801,    0x80000000, 0xFFFFFFFF};
            const DWORD version = Pick(4) == 0 ? Word() : versions[Pick(8)];
            c.data = Bytes(version) + Bytes(Word()) + Bytes(Word());
            if (Pick(2) == 0) {
                c.data.resize(Pick(12));  // truncated
            } else {
                c.data.append(Pick(5), '\x5A');  // more than the control reads
            }
        }
        switch (Pick(8)) {
        case 0:
        case 1:
        case 2:
            c.trouble = FaultyStream::Trouble::Fails;
            break;
        case 3:
            c.trouble = FaultyStream::Trouble::ShortRead;
            break;
        case 4:
            c.trouble = FaultyStream::Trouble::EndOfData;
            break;
        default:
            break;
        }
        c.troubleAt = Pick(static_cast<unsigned>(c.data.size()) + 2);
        static const HRESULT failures[] = {STG_E_READFAULT, E_UNEXPECTED,
                                           static_cast<HRESULT>(0x8004FA02)};
        c.failure = failures[Pick(3)];
        return c;
    }

    unsigned Pick(unsigned bound) {
        return std::uniform_int_distribution<unsigned>(0, bound - 1)(m_random);
    }
    DWORD Word() { return static_cast<DWORD>(m_random()); }

private:
    std::mt19937 m_random;
};

TEST(PersistStreamFuzz, LoadIsAllOrNothing) {
    Apartment apartment(Apartment::Single);
    auto service = telsim::Service::Create();
    ASSERT_HR(S_OK, service->RegisterClassObject());
    {
        ComPtr<ITAPIDialer> dialer;
        ASSERT_HR(S_OK, CreateDialer(dialer));
        ComPtr<IPersistStreamInit> persist;
        ComPtr<IOleObject> object;
        ASSERT_HR(S_OK, dialer.As(&persist));
        ASSERT_HR(S_OK, dialer.As(&object));
        EXPECT_HR(E_INVALIDARG, persist->Load(nullptr));

        std::printf("control streams: seed %u, %d streams\n", kSeed, kStreams);
        CaseGenerator generator(kSeed);
        int loaded = 0;
        int refused = 0;
        int failedReads = 0;
        int shortReads = 0;
        for (int i = 0; i < kStreams; ++i) {
            const Case c = generator.Next();
            const Expected expected = Model(c);
            SIZEL before{static_cast<LONG>(1 + generator.Pick(100000)),
                         static_cast<LONG>(1 + generator.Pick(100000))};
            ASSERT_HR(S_OK, object->SetExtent(DVASPECT_CONTENT, &before));
            const bool dirtyBefore = generator.Pick(2) == 0;
            if (dirtyBefore) {
                ASSERT_HR(S_OK, persist->InitNew());
            }
            const HRESULT dirtyAnswer = persist->IsDirty();

            FaultyStream stream(c.data, c.troubleAt, c.trouble, c.failure);
            const HRESULT hr = persist->Load(&stream);

            SIZEL after{};
            ASSERT_HR(S_OK, object->GetExtent(DVASPECT_CONTENT, &after));
            SCOPED_TRACE("stream #" + std::to_string(i) + " of " + std::to_string(c.data.size()) +
                         " bytes, trouble " + std::to_string(static_cast<int>(c.trouble)) + " at " +
                         std::to_string(c.troubleAt));
            EXPECT_EQ(1, stream.References());
            EXPECT_EQ(expected.reads, stream.Reads());
            if (expected.anyFailure) {
                EXPECT_TRUE(FAILED(hr)) << Hex(hr);
                ++shortReads;
            } else {
                EXPECT_HR(expected.hr, hr);
            }
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(static_cast<LONG>(expected.cx), after.cx);
                EXPECT_EQ(static_cast<LONG>(expected.cy), after.cy);
                EXPECT_HR(S_FALSE, persist->IsDirty());
                ++loaded;
            } else {
                EXPECT_EQ(before.cx, after.cx);
                EXPECT_EQ(before.cy, after.cy);
                EXPECT_HR(dirtyAnswer, persist->IsDirty());
                if (hr == E_FAIL && !expected.anyFailure) {
                    ++refused;
                } else if (!expected.anyFailure) {
                    ++failedReads;
                }
            }
            if (::testing::Test::HasFailure()) {
                break;
            }
        }
        std::printf(
            "control streams: %d loaded, %d refused for their version, %d failing reads, "
            "%d short reads\n",
            loaded, refused, failedReads, shortReads);
    }
    EXPECT_EQ("", service->Ledger().Leaks());
    service->RevokeClassObject();
    service->Notifications().ReleaseSinks();
}

}  // namespace
