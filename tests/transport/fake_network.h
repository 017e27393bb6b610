#pragma once

#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "transport/socket_udp.h"

namespace veltr::test {

using Bytes = std::vector<uint8_t>;

// An in-process network: a discovery "broadcast" goes nowhere but into this record, and the
// answers come from the test's script. No system socket is ever made.
class FakeNetwork final : public IVeltrNetwork {
 public:
  struct SentDatagram {
    Bytes bytes;
    UdpAddress to;
  };

  // What the script sees of every socket this network made.
  struct Record {
    bool broadcast = false;
    std::optional<uint16_t> boundPort;
    std::optional<UdpAddress> connectedTo;
    std::vector<SentDatagram> sent;
    std::deque<Bytes> inbox;
    size_t discarded = 0;  // datagrams thrown away unread
    bool closed = false;
  };

  // Answers to a broadcast, in the order they arrive.
  std::vector<Bytes> discoveryAnswers;
  // Addresses a connected socket cannot reach (connect fails).
  std::vector<uint32_t> unreachable;
  // The local address the system would choose for each device address; 10.0.0.1 otherwise.
  std::map<uint32_t, uint32_t> localAddressFor;
  std::optional<std::vector<NetInterface>> interfaces;
  std::map<std::string, uint32_t> hosts;
  std::vector<std::string> lookedUp;
  // The device behind a connected socket: request in, answer datagrams out.
  std::function<std::vector<Bytes>(const Bytes&)> device;
  int bindErrno = 0;
  std::vector<std::shared_ptr<Record>> sockets;

  std::unique_ptr<IVeltrUdpSocket> MakeSocket() override {
    sockets.push_back(std::make_shared<Record>());
    return std::make_unique<Socket>(*this, sockets.back());
  }
  std::optional<std::vector<NetInterface>> LocalInterfaces() override { return interfaces; }
  std::optional<uint32_t> LookUpHost(const std::string& name) override {
    lookedUp.push_back(name);
    auto it = hosts.find(name);
    if (it == hosts.end()) {
      return std::nullopt;
    }
    return it->second;
  }

  std::vector<SentDatagram> AllSent() const {
    std::vector<SentDatagram> all;
    for (const auto& record : sockets) {
      all.insert(all.end(), record->sent.begin(), record->sent.end());
    }
    return all;
  }

 private:
  class Socket final : public IVeltrUdpSocket {
   public:
    Socket(FakeNetwork& network, std::shared_ptr<Record> record)
        : network_(network), record_(std::move(record)) {}
    ~Socket() override { record_->closed = true; }

    bool EnableBroadcast() override { return record_->broadcast = true; }
    bool Bind(uint16_t port) override {
      if (network_.bindErrno != 0) {
        errno_ = network_.bindErrno;
        return false;
      }
      record_->boundPort = port;
      return true;
    }
    bool Connect(const UdpAddress& to) override {
      // Like the system: no broadcast permission, no connection to the broadcast address.
      if (to.ip == kIpNone && !record_->broadcast) {
        errno_ = EACCES;
        return false;
      }
      for (uint32_t ip : network_.unreachable) {
        if (ip == to.ip) {
          errno_ = ENETUNREACH;
          return false;
        }
      }
      record_->connectedTo = to;
      return true;
    }
    bool SetReceiveTimeout(uint32_t) override { return true; }
    long Send(const uint8_t* data, uint32_t size) override {
      if (!record_->connectedTo) {
        errno_ = EDESTADDRREQ;
        return -1;
      }
      Bytes request(data, data + size);
      record_->sent.push_back({request, *record_->connectedTo});
      if (network_.device) {
        for (Bytes& answer : network_.device(request)) {
          record_->inbox.push_back(std::move(answer));
        }
      }
      return size;
    }
    long SendTo(const uint8_t* data, uint32_t size, const UdpAddress& to) override {
      record_->sent.push_back({Bytes(data, data + size), to});
      if (to.ip == kIpNone) {
        for (const Bytes& answer : network_.discoveryAnswers) {
          record_->inbox.push_back(answer);
        }
      }
      return size;
    }
    long Receive(uint8_t* data, uint32_t size) override {
      if (record_->inbox.empty()) {
        errno_ = EAGAIN;
        return -1;
      }
      Bytes datagram = std::move(record_->inbox.front());
      record_->inbox.pop_front();
      std::memcpy(data, datagram.data(), std::min<size_t>(size, datagram.size()));
      return static_cast<long>(datagram.size());
    }
    void DiscardPending() override {
      record_->discarded += record_->inbox.size();
      record_->inbox.clear();
    }
    std::optional<uint32_t> LocalAddress() override {
      if (!record_->connectedTo) {
        return std::nullopt;
      }
      auto it = network_.localAddressFor.find(record_->connectedTo->ip);
      return it == network_.localAddressFor.end() ? IpFromOctets(10, 0, 0, 1) : it->second;
    }
    int LastErrno() const override { return errno_; }

   private:
    FakeNetwork& network_;
    std::shared_ptr<Record> record_;
    int errno_ = 0;
  };
};

}  // namespace veltr::test
