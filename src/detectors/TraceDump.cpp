#include "detectors/TraceDump.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "datafiles/LegacyVTK.h"
#include "datafiles/ResultFile.h"
#include "geometry/ByteSource.h"
#include "inifiles/IniFile.h"
#include "inifiles/IniValues.h"

namespace {

const char* const kTextColumns = "# ID\tSubID\tParticle\tInteraction\tInteractionCount\tOldEnergy\tEnergy\t"
                                 "OldWeight\tWeight\tStartX\tStartY\tStartZ\tEndX\tEndY\tEndZ\n";

} // namespace

template <typename T> TraceDump<T>::SharedFile::~SharedFile() {
    if (File != nullptr)
        std::fclose(File);
}

template <typename T> TraceDump<T>::TraceDump() : Output(std::make_shared<SharedFile>()) {
    Queue.reserve(QueueLimit + 1);
}

// A tracer's copy shares the file and starts with an empty queue of its own.
template <typename T>
TraceDump<T>::TraceDump(const TraceDump& other)
    : TBasicGeometricalObject(other), TTraceDetector(other), Binary(other.Binary), Append(other.Append),
      Filename(other.Filename), HasFolder(other.HasFolder), Output(other.Output) {
    Queue.reserve(QueueLimit + 1);
}

template <typename T> TraceDump<T>::~TraceDump() {
    try {
        WriteQueue();
    } catch (const std::exception& e) {
        // A destructor cannot throw; the error must not pass unseen either.
        std::fprintf(stderr, "%s\n", e.what());
    }
}

template <typename T>
std::unique_ptr<TraceDump<T>> TraceDump<T>::Create(const inifiles::TIniFileSection& section) {
    std::unique_ptr<TraceDump<T>> dump(new TraceDump<T>());
    dump->ReadName(section);
    dump->ReadFilterKeys(section);
    inifiles::ReadOptional(section, "Binary", dump->Binary);
    inifiles::ReadOptional(section, "Append", dump->Append);
    if (const inifiles::TIniFileVariable* name = section.TryFindVariable("Filename")) {
        const std::string value = name->GetValue();
        dump->HasFolder = value.find_first_of("/\\") != std::string::npos;
        dump->Filename = dump->HasFolder ? inifiles::MakePath(*name, value) : value;
    }
    if (dump->Filename.empty())
        dump->Filename = dump->Binary ? "traces.bin" : "traces.txt";
    return dump;
}

template <typename T> std::unique_ptr<TBasicGeometricalObject> TraceDump<T>::Clone() const {
    return std::unique_ptr<TBasicGeometricalObject>(new TraceDump<T>(*this));
}

template <typename T> std::string TraceDump<T>::Header(bool binary) {
    if (!binary)
        return kTextColumns;
    const std::string order = geometry::HostIsLittleEndian() ? " LE\n" : " BE\n";
    const std::string bits = std::to_string(8 * sizeof(T));
    std::string header = "Tarvo Binary TraceDump\n";
    header += "ID UInt64" + order + "SubID UInt64" + order + "Particle Enum32" + order +
              "Interaction Enum32" + order + "InteractionCount UInt32" + order;
    for (const char* column : {"OldEnergy", "Energy", "OldWeight", "Weight"})
        header += std::string(column) + " Float" + bits + order;
    const std::string coord = std::to_string(3 * 8 * sizeof(T));
    header += "Start Coord" + coord + order + "End Coord" + coord + order;
    header += "Total: " + std::to_string(sizeof(TraceSegment<T>)) + " Bytes per segment.\n";
    return header;
}

template <typename T> std::string TraceDump<T>::FileName(const std::string& baseName) const {
    return HasFolder ? Filename : baseName + "_" + Filename;
}

template <typename T> void TraceDump<T>::StartRun(const std::string& baseName) {
    SharedFile& out = *Output;
    std::lock_guard<std::mutex> guard(out.Lock);
    if (out.File != nullptr)
        std::fclose(out.File);
    out.File = nullptr;
    out.Name = FileName(baseName);
    const std::string header = Header(Binary);
    std::FILE* file = std::fopen(out.Name.c_str(), Append ? "ab+" : "wb");
    if (file == nullptr)
        throw std::runtime_error("TraceDump: Couldn't open " + out.Name + " (" + std::strerror(errno) + ")");
    long size = 0;
    if (Append && (std::fseek(file, 0, SEEK_END) != 0 || (size = std::ftell(file)) < 0))
        size = 0;
    if (size > 0) {
        // Segments of another layout after this header would make the file unreadable.
        std::string start(header.size(), '\0');
        std::rewind(file);
        const std::size_t got = std::fread(&start[0], 1, start.size(), file);
        std::fseek(file, 0, SEEK_END);
        if (got != start.size() || start != header) {
            std::fclose(file);
            throw std::runtime_error("TraceDump: Couldn't append to " + out.Name +
                                     ": it is not a trace dump of this variant (Binary, Single)");
        }
    } else if (std::fwrite(header.data(), 1, header.size(), file) != header.size()) {
        std::fclose(file);
        throw std::runtime_error("TraceDump: Error writing " + out.Name);
    }
    out.File = file;
}

template <typename T> void TraceDump<T>::Score(const TParticle& before, const TParticle& after, int code) {
    Queue.emplace_back();
    TraceSegment<T>& s = Queue.back();
    std::memset(&s, 0, sizeof s);
    s.ID = after.History;
    s.SubID = after.Sequence;
    s.Particle = after.Type;
    s.Interaction = code;
    s.InteractionCount = after.InteractionCount;
    s.OldEnergy = T(before.Energy);
    s.Energy = T(after.Energy);
    s.OldWeight = T(before.Weight);
    s.Weight = T(after.Weight);
    const double from[3] = {before.Position.x, before.Position.y, before.Position.z};
    const double to[3] = {after.Position.x, after.Position.y, after.Position.z};
    for (int i = 0; i < 3; ++i) {
        s.Start[i] = T(from[i]);
        s.End[i] = T(to[i]);
    }
    if (Queue.size() > QueueLimit)
        WriteQueue();
}

template <typename T> void TraceDump<T>::Flush() {
    WriteQueue();
    std::lock_guard<std::mutex> guard(Output->Lock);
    if (Output->File != nullptr)
        std::fflush(Output->File);
}

template <typename T> void TraceDump<T>::InternalWrite(std::ostream& stream) {
    Flush();
    long length = 0;
    {
        std::lock_guard<std::mutex> guard(Output->Lock);
        if (Output->File != nullptr && (length = std::ftell(Output->File)) < 0)
            throw std::runtime_error("TraceDump: Error writing " + Output->Name);
    }
    stream << "TraceDump " << length << " ";
}

template <typename T> void TraceDump<T>::InternalRead(std::istream& stream, std::uint64_t) {
    std::string word;
    std::uint64_t length = 0;
    stream >> word >> length;
    stream.get();
    if (!stream || word != "TraceDump")
        throw std::runtime_error("Invalid trace dump state for " + Output->Name);
    SharedFile& out = *Output;
    std::lock_guard<std::mutex> guard(out.Lock);
    if (out.File != nullptr)
        std::fclose(out.File);
    out.File = nullptr;
    out.File = datafiles::ContinueFile(out.Name, length);
}

template <typename T> void TraceDump<T>::WriteQueue() {
    if (Queue.empty())
        return;
    const char* data = reinterpret_cast<const char*>(Queue.data());
    std::size_t bytes = Queue.size() * sizeof(TraceSegment<T>);
    if (!Binary) {
        // Formatted outside the lock; the block then goes out at once.
        Text.clear();
        for (const TraceSegment<T>& s : Queue) {
            Text += std::to_string(s.ID) + '\t' + std::to_string(s.SubID) + '\t' +
                    std::to_string(s.Particle) + '\t' + std::to_string(s.Interaction) + '\t' +
                    std::to_string(s.InteractionCount);
            for (const T value : {s.OldEnergy, s.Energy, s.OldWeight, s.Weight, s.Start[0], s.Start[1],
                                  s.Start[2], s.End[0], s.End[1], s.End[2]})
                Text += '\t' + datafiles::RoundTrip(value);
            Text += '\n';
        }
        data = Text.data();
        bytes = Text.size();
    }
    Queue.clear();
    SharedFile& out = *Output;
    std::lock_guard<std::mutex> guard(out.Lock);
    if (out.File == nullptr)
        throw std::runtime_error("TraceDump: no file open for the trace segments (run not started)");
    if (std::fwrite(data, 1, bytes, out.File) != bytes)
        throw std::runtime_error("TraceDump: Error writing " + out.Name);
}

template <typename T> void TraceDump<T>::PrintSummary(std::ostream& os) const {
    if (!Name.empty())
        os << "   Name: " << Name << "\n";
    os << "   Type: TraceDump, " << 8 * sizeof(T) << "bit floating point, " << (Binary ? "binary" : "text")
       << (Append ? ", append" : "") << "\n";
    os << "   File: " << (HasFolder ? Filename : "<result prefix>_TraceDetector<n>_" + Filename) << "\n";
    PrintFilterSummary(os);
}

template class TraceDump<float>;
template class TraceDump<double>;
