#include "Protocol.h"

#include <algorithm>

namespace cardsim {

std::vector<Command> CommandParser::Feed(std::string_view bytes) {
  std::vector<Command> out;
  for (char byte : bytes) Step(byte, out);
  return out;
}

void CommandParser::DropFrame() {
  // ESC 't' plus what was collected.
  skipped_ += 2 + frame_.size();
  ++droppedFrames_;
  frame_.clear();
}

void CommandParser::AbandonRead(State resume, char byte, std::vector<Command>& out) {
  // ESC ']' for track 2, ESC 'T' ']' or ESC 'B' ']' for the others.
  skipped_ += pendingRead_ == Tracks::kTrack2 ? 2 : 3;
  state_ = resume;
  Step(byte, out);
}

void CommandParser::Step(char byte, std::vector<Command>& out) {
  switch (state_) {
    case State::kScan:
      if (byte == kEsc) {
        state_ = State::kEsc;
      } else {
        ++skipped_;
      }
      return;

    case State::kEsc:
      state_ = State::kScan;
      switch (byte) {
        case '0': out.push_back(MakeCommand(CommandKind::kReset)); return;
        case 'j': out.push_back(MakeCommand(CommandKind::kStatus)); return;
        case ']':
          pendingRead_ = Tracks::kTrack2;
          state_ = State::kReadWantEsc;
          return;
        case 'T': state_ = State::kEscT; return;
        case 'B': state_ = State::kEscB; return;
        case 't':
          frame_.clear();
          state_ = State::kFrame;
          return;
        case kEsc:
          // The first ESC led nowhere; the second may start a command.
          ++skipped_;
          state_ = State::kEsc;
          return;
        default: skipped_ += 2; return;
      }

    case State::kEscT:
    case State::kEscB:
      if (byte == ']') {
        pendingRead_ = state_ == State::kEscT ? Tracks::kTrack3 : Tracks::kBoth;
        state_ = State::kReadWantEsc;
        return;
      }
      skipped_ += 2;
      state_ = State::kScan;
      Step(byte, out);
      return;

    case State::kReadWantEsc:
      // A read is taken only as the whole command, status query included, so
      // that a swipe can never fall between its two halves.
      if (byte == kEsc) {
        state_ = State::kReadWantJ;
        return;
      }
      AbandonRead(State::kScan, byte, out);
      return;

    case State::kReadWantJ:
      if (byte == 'j') {
        out.push_back(MakeCommand(CommandKind::kRead, pendingRead_));
        state_ = State::kScan;
        return;
      }
      // The ESC just taken may start the next command.
      AbandonRead(State::kEsc, byte, out);
      return;

    case State::kFrame:
      if (byte == kEsc) {
        state_ = State::kFrameEsc;
        return;
      }
      frame_.push_back(byte);
      if (frame_.size() > kMaxFrameBytes) {
        DropFrame();
        state_ = State::kScan;
      }
      return;

    case State::kFrameEsc:
      if (byte == '\\' && !frame_.empty() && frame_.back() == kGs) {
        frame_.pop_back();
        out.push_back(WriteCommandFromFrame(frame_));
        frame_.clear();
        state_ = State::kScan;
        return;
      }
      // Any other ESC sequence ends an unfinished frame and is itself read
      // as the next command (a reset in mid-frame, a new frame).
      DropFrame();
      if (byte == '\\') {
        skipped_ += 2;
        state_ = State::kScan;
        return;
      }
      state_ = State::kEsc;
      Step(byte, out);
      return;
  }
}

Command WriteCommandFromFrame(std::string_view body) {
  Command command = MakeCommand(CommandKind::kWrite);
  const auto separator = body.find('A');
  if (separator == std::string_view::npos) {
    command.tracks = Tracks::kTrack2;
    command.track2 = std::string(body);
    return command;
  }
  command.track2 = std::string(body.substr(0, separator));
  command.track3 = std::string(body.substr(separator + 1));
  command.tracks = command.track2.empty() ? Tracks::kTrack3 : Tracks::kBoth;
  return command;
}

std::string ReadReply(Tracks tracks, std::string_view track2, std::string_view track3) {
  std::string reply{kEsc, 's'};
  if (tracks != Tracks::kTrack3) reply += track2;
  if (tracks != Tracks::kTrack2) {
    reply += 'A';
    reply += track3;
  }
  reply += '?';
  reply += kFs;
  return reply;
}

std::vector<std::string> SplitReply(std::string_view reply, int chunks) {
  std::vector<std::string> out;
  if (reply.empty()) return out;
  const std::size_t n = std::clamp<std::size_t>(chunks < 1 ? 1 : static_cast<std::size_t>(chunks), 1, reply.size());
  const std::size_t base = reply.size() / n;
  const std::size_t extra = reply.size() % n;
  std::size_t pos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t len = base + (i < extra ? 1 : 0);
    out.emplace_back(reply.substr(pos, len));
    pos += len;
  }
  return out;
}

}  // namespace cardsim
