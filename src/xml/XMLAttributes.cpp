// Values and attribute lists.
#include "xml/XMLNode.h"

#include <new>
#include <unordered_map>
#include <utility>

#include "platform/SysUtils.h"

namespace {

// Once a tag has this many attributes, ValueOf looks names up through a hash index.
constexpr std::size_t kAttributeIndexThreshold = 8;

} // namespace

// ---------------------------------------------------------------------------------------------
// TXMLValue

TXMLValue& TXMLValue::operator=(const TXMLValue& other) {
    if (this != &other)
        SetRawText(std::string(other.RawText()));
    return *this;
}

void TXMLValue::SetRawText(std::string text) {
    if (FOwned)
        *FOwned = std::move(text);
    else
        FOwned = std::make_unique<std::string>(std::move(text));
    FData = FOwned->data();
    FSize = FOwned->size();
}

void TXMLValue::Detach() {
    if (!FOwned && FSize != 0)
        SetRawText(std::string(FData, FSize));
}

void TXMLValue::Relocate(TXMLValue& other) noexcept {
    FData = std::exchange(other.FData, "");
    FSize = std::exchange(other.FSize, 0);
    FOwned = std::move(other.FOwned);
}

// ---------------------------------------------------------------------------------------------
// TXMLAttributes

struct TXMLAttributes::TPair {
    std::string Name;
    TXMLValue Value;
};

struct TXMLAttributes::TData {
    // Room for capacity pairs right behind the data, in the same allocation.
    static TData* Create(std::size_t capacity) {
        static_assert(sizeof(TData) % alignof(TPair) == 0, "the pairs follow the data");
        void* block = ::operator new(sizeof(TData) + capacity * sizeof(TPair));
        TData* data = new (block) TData();
        // The pairs are constructed as they are taken.
        data->Parsed = reinterpret_cast<TPair*>(static_cast<char*>(block) + sizeof(TData));
        data->ParsedCapacity = capacity;
        return data;
    }
    ~TData() {
        for (std::size_t i = 0; i < ParsedCount; ++i)
            Parsed[i].~TPair();
    }

    std::size_t Count() const { return ParsedCount + Added.size(); }

    // The first pairs, in one block that never moves; the rest each on its own, so that a value
    // handed out by ValueOf stays put when pairs are added.
    TPair* Parsed = nullptr;
    std::size_t ParsedCount = 0;
    std::size_t ParsedCapacity = 0;
    std::vector<std::unique_ptr<TPair>> Added;
    // Upper-cased name -> index, built only once a tag has many attributes so that a hostile tag
    // cannot make the parser quadratic.
    std::unique_ptr<std::unordered_map<std::string, std::size_t>> Index;

private:
    TData() = default;
};

void TXMLAttributes::TDataDeleter::operator()(TData* data) const noexcept {
    // The block was taken whole by Create.
    data->~TData();
    ::operator delete(data);
}

TXMLAttributes::TXMLAttributes(TXMLAttributes&& other) : FData(std::move(other.FData)) {
    Detach();
}

TXMLAttributes& TXMLAttributes::operator=(TXMLAttributes&& other) {
    if (this != &other) {
        FData = std::move(other.FData);
        Detach();
    }
    return *this;
}

TXMLAttributes::~TXMLAttributes() = default;

void TXMLAttributes::Detach() {
    for (int i = 0; i < Count(); ++i)
        Pair(static_cast<std::size_t>(i)).Value.Detach();
}

void TXMLAttributes::Reserve(std::size_t count) {
    // Only a new list gets its block; pairs beyond it are added one by one.
    if (!FData)
        FData.reset(TData::Create(count));
}

void TXMLAttributes::Clear() {
    FData.reset();
}

int TXMLAttributes::Count() const {
    return FData ? static_cast<int>(FData->Count()) : 0;
}

TXMLAttributes::TPair& TXMLAttributes::Pair(std::size_t index) const {
    return index < FData->ParsedCount ? FData->Parsed[index] : *FData->Added[index - FData->ParsedCount];
}

TXMLValue& TXMLAttributes::Lookup(std::string_view name) {
    if (!FData)
        FData.reset(TData::Create(0));
    TData& data = *FData;
    const std::size_t count = data.Count();
    auto& index = data.Index;
    if (index) {
        std::string key = UpperCaseAscii(std::string(name));
        auto found = index->find(key);
        if (found != index->end())
            return Pair(found->second).Value;
        index->emplace(std::move(key), count);
    } else {
        for (std::size_t i = 0; i < count; ++i) {
            TPair& pair = Pair(i);
            if (SameTextAscii(pair.Name, name))
                return pair.Value;
        }
        if (count + 1 >= kAttributeIndexThreshold) {
            index = std::make_unique<std::unordered_map<std::string, std::size_t>>();
            for (std::size_t i = 0; i < count; ++i)
                index->emplace(UpperCaseAscii(Pair(i).Name), i);
            index->emplace(UpperCaseAscii(std::string(name)), count);
        }
    }
    if (data.Added.empty() && data.ParsedCount < data.ParsedCapacity) {
        TPair* pair = new (&data.Parsed[data.ParsedCount]) TPair{std::string(name), TXMLValue()};
        ++data.ParsedCount;
        return pair->Value;
    }
    data.Added.push_back(std::make_unique<TPair>());
    TPair& pair = *data.Added.back();
    pair.Name.assign(name.data(), name.size());
    return pair.Value;
}

const std::string& TXMLAttributes::Name(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return Pair(static_cast<std::size_t>(index)).Name;
}

const TXMLValue& TXMLAttributes::Value(int index) const {
    if (index < 0 || index >= Count())
        throw EListError(index);
    return Pair(static_cast<std::size_t>(index)).Value;
}
