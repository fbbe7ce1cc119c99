#pragma once

// Inside the XML reader only: the store a loaded document lives in.

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The document text, copied once, and the room for the nodes read from it and their child
// arrays, freed all at once with the store. The parser moves text runs within the text so that
// a value made of several pieces can mostly still refer into it.
class TXMLStore {
public:
    explicit TXMLStore(std::string text) : Text(std::move(text)) {}
    TXMLStore(const TXMLStore&) = delete;
    TXMLStore& operator=(const TXMLStore&) = delete;

    // Room for bytes (a multiple of 8), not yet constructed; lives as long as the store.
    void* Allocate(std::size_t bytes) {
        if (bytes > FLeft) {
            // Chunks grow with the document, so that a large one takes few of them.
            const std::size_t chunk = std::max(bytes, FNextChunk);
            FChunks.emplace_back(
                new std::max_align_t[(chunk + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)]);
            FNext = reinterpret_cast<char*>(FChunks.back().get());
            FLeft = chunk;
            FNextChunk = std::min<std::size_t>(FNextChunk * 2, 1 << 20);
        }
        void* room = FNext;
        FNext += bytes;
        FLeft -= bytes;
        return room;
    }

    // One more node owns a reference.
    void AddReference() noexcept { FReferences.fetch_add(1, std::memory_order_relaxed); }
    // One owner lets go; returns whether that was the last, so the store is to be freed.
    bool DropReference() noexcept { return FReferences.fetch_sub(1, std::memory_order_acq_rel) == 1; }

    std::string Text;
    // The text as the document wrote it, kept only when the loader asked for the elements' markup
    // (the parser rearranges Text); with it, where each element's content lies in it.
    std::string Source;
    bool KeepsMarkup = false;
    std::unordered_map<const class TXMLNode*, std::pair<std::size_t, std::size_t>> ContentSpans;
    // While the store waits to be freed at the end of a release: the next store waiting.
    TXMLStore* NextFreed = nullptr;

private:
    std::atomic<long> FReferences{1};
    std::vector<std::unique_ptr<std::max_align_t[]>> FChunks;
    char* FNext = nullptr;
    std::size_t FLeft = 0;
    std::size_t FNextChunk = 16 * 1024;
};
