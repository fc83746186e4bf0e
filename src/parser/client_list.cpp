#include "parser/client_list.h"

#include <optional>
#include <utility>

#include "paramlist/plugin_records.h"
#include "parser/queue_controller.h"

TCustomParserClientList::~TCustomParserClientList() {
  std::vector<std::unique_ptr<TCustomParserClient>> clients;
  {
    auto w = WriteLocked();
    while (!w->Empty())
      clients.push_back(Take(*w, w->begin()->first));
    template_count_ = 0;
  }
  DestroyClients(clients);
}

TCustomParserClient* TCustomParserClientList::Insert(Map& map,
                                                     std::unique_ptr<TCustomParserClient> client) {
  if (client->IsTemplate) ++template_count_;
  const Map::Key key = client->ClientId;
  std::unique_ptr<TCustomParserClient> replaced = Take(map, key);
  return map.Add(key, std::move(client));
}

std::unique_ptr<TCustomParserClient> TCustomParserClientList::Take(Map& map, Map::Key key) {
  std::unique_ptr<TCustomParserClient> client = map.Extract(key);
  if (client && client->IsTemplate) --template_count_;
  return client;
}

void TCustomParserClientList::SetTemplate(TCustomParserClient& client, bool is_template) {
  if (client.IsTemplate == is_template) return;
  client.IsTemplate = is_template;
  template_count_ += is_template ? 1 : -1;
}

void TCustomParserClientList::DestroyClients(
    std::vector<std::unique_ptr<TCustomParserClient>>& clients) {
  for (auto& client : clients) {
    if (!client) continue;
    try {
      client->BeforeDestruction();
    } catch (...) {
    }
    client.reset();
  }
  clients.clear();
}

namespace {

// The client whose ClientId is the identifier: always its key.
TCustomParserClient* FindClient(const TCustomParserClientList::Map& map, uintptr_t id) {
  TCustomParserClient* client = map.Find(id);
  return client && client->ClientId == id ? client : nullptr;
}

TCustomParserClient* FirstTemplate(const TCustomParserClientList& list,
                                   const TCustomParserClientList::Map& map) {
  if (list.TemplateCount() == 0) return nullptr;
  for (const auto& entry : map)
    if (entry.second->IsTemplate) return entry.second.get();
  return nullptr;
}

// The template becomes the block's client. It moves to the block's key, so
// that a later client of the template's old key cannot replace it.
void TakeOver(TCustomParserClientList& list, TCustomParserClientList::Map& map,
              TCustomParserClient* client, const TPluginCallRec& block) {
  const uintptr_t old_key = client->ClientId;
  {
    // The queue's handlers read the identity under its StateLock.
    TCustomParserScheduledClient* scheduled = client->AsScheduled();
    std::optional<TQueueState> state;
    if (scheduled && scheduled->Queue) state.emplace(*scheduled->Queue);
    const bool was_template = client->IsTemplate;
    client->InitFromBlock(block);
    client->IsTemplate = was_template;
    list.SetTemplate(*client, client->ClientId == 0);
    if (!client->IsTemplate && block.Input.Kind == kKindEvent) client->ConnectionBound = true;
  }
  const uintptr_t key = client->ClientId;
  if (key != old_key && !map.Find(key) && map.Find(old_key) == client)
    map.Add(key, map.Extract(old_key));
}

}  // namespace

TClientLookup FindOrCreateClient(TCustomParserClientList& list, const TPluginCallRec& block,
                                 TDataSourceScheduledWithClients* source,
                                 const TParserClientFactory& factory) {
  const uintptr_t id = block.ClientId;
  {
    auto r = list.ReadLocked();
    TCustomParserClient* client = r->Find(id);
    if (client && client->ClientId == id) return TClientLookup{std::move(r), client};
  }
  std::unique_ptr<TCustomParserClient> fresh;
  for (;;) {
    auto w = list.WriteLocked();
    // Looked up again under the write lock: another thread may have made it.
    TCustomParserClient* client = FindClient(*w, id);
    if (!client) {
      if (TCustomParserClient* templ = FirstTemplate(list, *w)) {
        if (BlockClientName(block).compare(0, 6, kTemplateClientPrefix) != 0)
          TakeOver(list, *w, templ, block);
        else
          list.SetTemplate(*templ, true);
        client = templ;
      }
    }
    if (!client && fresh) client = list.Insert(*w, std::move(fresh));
    if (client || !factory) {
      auto r = list.ReadLocked();  // taken while writing: the lock goes down to reading
      w.Unlock();
      // Another thread was first. Ours never ran: its timer is this
      // thread's, so freeing it waits for nobody.
      if (fresh) {
        std::vector<std::unique_ptr<TCustomParserClient>> unused;
        unused.push_back(std::move(fresh));
        TCustomParserClientList::DestroyClients(unused);
      }
      return TClientLookup{std::move(r), client};
    }
    w.Unlock();
    // Made outside the list's lock: the constructor copies the master
    // requests, which are locked before the client list.
    fresh = factory(source, block);
    if (!fresh) return TClientLookup{list.ReadLocked(), nullptr};
    fresh->AfterConstruction();
  }
}

int RemoveTemplateClients(TCustomParserClientList& list) {
  std::vector<std::unique_ptr<TCustomParserClient>> removed;
  {
    auto w = list.WriteLocked();
    std::vector<TCustomParserClientList::Map::Key> keys;
    for (const auto& entry : *w)
      if (entry.second->IsTemplate) keys.push_back(entry.first);
    // The last collected first.
    for (auto it = keys.rbegin(); it != keys.rend(); ++it)
      removed.push_back(list.Take(*w, *it));
  }
  const int count = static_cast<int>(removed.size());
  TCustomParserClientList::DestroyClients(removed);
  return count;
}
