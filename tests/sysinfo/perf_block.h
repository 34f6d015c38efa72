// Hand-built raw performance data for the sampler tests: a data block of the winperf layout
// assembled element by element, with room for the irregularities the walk must cope with
// (padding after names, extra counters, objects in any order).
#ifndef NXUTIL_TESTS_SYSINFO_PERF_BLOCK_H
#define NXUTIL_TESTS_SYSINFO_PERF_BLOCK_H

#include "platform/perf.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace nxtest {

struct TestCounter {
    std::uint32_t index;
    std::uint32_t size;  // 4 or 8
};

struct TestInstance {
    std::u16string name;
    std::vector<std::int64_t> values;  // one per counter, in definition order
};

struct TestObject {
    std::uint32_t index;
    std::vector<TestCounter> counters;
    bool hasInstances = true;
    std::vector<TestInstance> instances;  // without instances: instances[0].values is the block
    std::uint32_t extraNamePadding = 0;   // bytes left unused after every instance name
};

class PerfBlock {
public:
    explicit PerfBlock(std::int64_t time100ns) : m_time(time100ns) {}

    PerfBlock& add(const TestObject& obj) {
        m_objects.push_back(obj);
        return *this;
    }

    std::vector<unsigned char> bytes() const {
        std::vector<unsigned char> out(sizeof(platform::perf::DataBlock) + 16, 0);
        platform::perf::DataBlock head{};
        std::memcpy(head.signature, u"PERF", 8);
        head.headerLength = static_cast<std::uint32_t>(out.size());  // a system name's room
        head.numObjectTypes = static_cast<std::uint32_t>(m_objects.size());
        head.perfTime100nSec = m_time;
        for (const TestObject& o : m_objects)
            appendObject(out, o);
        head.totalByteLength = static_cast<std::uint32_t>(out.size());
        std::memcpy(out.data(), &head, sizeof head);
        return out;
    }

private:
    template <typename T>
    static void put(std::vector<unsigned char>& out, std::size_t at, const T& v) {
        std::memcpy(out.data() + at, &v, sizeof v);
    }

    static void appendObject(std::vector<unsigned char>& out, const TestObject& o) {
        namespace perf = platform::perf;
        const std::size_t objAt = out.size();
        out.resize(objAt + sizeof(perf::ObjectType) + 40 * o.counters.size());
        std::vector<std::uint32_t> offsets;
        std::uint32_t offset = 4;  // right after the block's length word: 64-bit values unaligned
        for (std::size_t c = 0; c < o.counters.size(); ++c) {
            perf::CounterDefinition def{};
            def.byteLength = 40;
            def.counterNameTitleIndex = o.counters[c].index;
            def.counterSize = o.counters[c].size;
            def.counterOffset = offset;
            offsets.push_back(offset);
            offset += o.counters[c].size;
            put(out, objAt + sizeof(perf::ObjectType) + 40 * c, def);
        }
        const std::uint32_t blockBytes = offset;
        perf::ObjectType obj{};
        obj.headerLength = sizeof(perf::ObjectType);
        obj.definitionLength = static_cast<std::uint32_t>(out.size() - objAt);
        obj.objectNameTitleIndex = o.index;
        obj.numCounters = static_cast<std::uint32_t>(o.counters.size());
        obj.numInstances = o.hasInstances ? static_cast<std::int32_t>(o.instances.size())
                                          : perf::kNoInstances;

        auto appendBlock = [&](const std::vector<std::int64_t>& values) {
            const std::size_t at = out.size();
            out.resize(at + blockBytes, 0);
            put(out, at, perf::CounterBlock{blockBytes});
            for (std::size_t c = 0; c < o.counters.size() && c < values.size(); ++c) {
                if (o.counters[c].size == 8)
                    put(out, at + offsets[c], values[c]);
                else
                    put(out, at + offsets[c], static_cast<std::uint32_t>(values[c]));
            }
        };
        if (!o.hasInstances) {
            appendBlock(o.instances.empty() ? std::vector<std::int64_t>() : o.instances[0].values);
        } else {
            for (const TestInstance& inst : o.instances) {
                const std::size_t at = out.size();
                const std::size_t nameBytes = (inst.name.size() + 1) * 2;
                out.resize(at + sizeof(perf::InstanceDefinition) + nameBytes + o.extraNamePadding,
                           0);
                perf::InstanceDefinition def{};
                def.byteLength = static_cast<std::uint32_t>(out.size() - at);
                def.nameOffset = sizeof(perf::InstanceDefinition);
                def.nameLength = static_cast<std::uint32_t>(nameBytes);
                put(out, at, def);
                std::memcpy(out.data() + at + def.nameOffset, inst.name.c_str(), nameBytes);
                appendBlock(inst.values);
            }
        }
        obj.totalByteLength = static_cast<std::uint32_t>(out.size() - objAt);
        put(out, objAt, obj);
    }

    std::int64_t m_time;
    std::vector<TestObject> m_objects;
};

}  // namespace nxtest

#endif
