#pragma once
// The parser clients of one data source, keyed by client identifier; the list
// owns them. A client is created and destroyed outside the list's lock (its
// construction copies the master requests, its destruction waits for a tick
// of its queue), and its key always equals its ClientId.
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "parser/parser_client.h"
#include "threading/thread_ptr_uint_object_hash_list.h"

struct TPluginCallRec;

class TCustomParserClientList : public TThreadPtrUIntObjectHashList<TCustomParserClient> {
 public:
  using Map = TqonPtrUIntObjectHashList<TCustomParserClient>;

  TCustomParserClientList() = default;
  // Every client gets BeforeDestruction before it is freed.
  ~TCustomParserClientList() override;

  // The client list's changes, under its write lock (map: the locked map).
  // Insert adds under the client's ClientId. Take removes without freeing:
  // free with DestroyClients once the lock is released.
  TCustomParserClient* Insert(Map& map, std::unique_ptr<TCustomParserClient> client);
  std::unique_ptr<TCustomParserClient> Take(Map& map, Map::Key key);
  void SetTemplate(TCustomParserClient& client, bool is_template);
  // Template clients in the list (under its lock).
  int TemplateCount() const { return template_count_; }

  static void DestroyClients(std::vector<std::unique_ptr<TCustomParserClient>>& clients);

  // Set when template clients were created; cleared by the first port event.
  std::atomic<bool> HasTemplateClients{false};

 private:
  int template_count_ = 0;
};

// A client found under the list's read lock, which Lock keeps.
struct TClientLookup {
  TCustomParserClientList::ReadGuard Lock;
  TCustomParserClient* Client = nullptr;
};

// The client of the block's client identifier; else a template client (taken
// over by a block whose name is not a template name); else, with a factory, a
// new client. Called without the list's lock; the result holds its read lock.
// Two threads creating the same client get one.
TClientLookup FindOrCreateClient(TCustomParserClientList& list, const TPluginCallRec& block,
                                 TDataSourceScheduledWithClients* source,
                                 const TParserClientFactory& factory);

// Removes (and frees) every template client; how many.
int RemoveTemplateClients(TCustomParserClientList& list);
