#include "Options.h"

#include <charconv>
#include <stdexcept>

namespace cardsim {

namespace {

long NonNegative(const std::string& option, const std::string& value, long max) {
  long number = 0;
  const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
  if (ec != std::errc() || end != value.data() + value.size() || number < 0 || number > max) {
    throw std::invalid_argument(option + " needs a whole number from 0 to " + std::to_string(max) + ", not '" + value +
                                "'");
  }
  return number;
}

}  // namespace

std::string Usage() {
  return std::string(
             "usage: cardsim [OPTION]...\n"
             "Plays a magnetic-stripe card reader/writer on a pseudo-terminal.\n"
             "The first line of output is the path of the device the station opens.\n"
             "\n"
             "Line:\n"
             "  --link PATH          put a symlink to the pseudo-terminal at PATH (a stale\n"
             "                       link is replaced; the link is removed on exit)\n"
             "  --device PATH        use the existing serial device PATH instead of a\n"
             "                       pseudo-terminal (not with --link)\n"
             "Cards:\n"
             "  --deck FILE          keep the cards in FILE, one per line: track 2, a tab,\n"
             "                       track 3; written cards are saved there at once\n"
             "  --auto-swipe MS      swipe the next blank card MS ms after every read or\n"
             "                       write is armed (0: at once)\n"
             "Control:\n"
             "  --control PATH       also take control commands on a Unix socket at PATH\n"
             "                       (one command per line, one answer line each)\n"
             "  --log FILE           record every byte in both directions, with times, in\n"
             "                       hex ('rx' from the station, 'tx' to it)\n"
             "Faults:\n"
             "  --chunks N           send every reply in N pieces\n"
             "  --chunk-delay MS     wait MS ms between the pieces of a reply\n"
             "  --bad-swipes K       the first K answered swipes fail\n"
             "  --drop-replies K     do not send the first K replies\n"
             "  --silent             play a dead device from the start\n"
             "  --hang-up-after MS   close the line MS ms after start\n"
             "\n"
             "  --help               show this text\n"
             "\n"
             "Commands on standard input and the control socket:\n") +
         kControlHelp +
         "\n"
         "Standard input reaching its end does not stop the emulator; 'quit', SIGINT\n"
         "or SIGTERM do.\n";
}

Options ParseOptions(const std::vector<std::string>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = option.substr(eq + 1);
      option.resize(eq);
    }
    const auto value = [&]() -> std::string {
      std::string v;
      if (inlineValue) {
        v = *inlineValue;
      } else if (i + 1 < args.size()) {
        v = args[++i];
      }
      if (v.empty()) throw std::invalid_argument(option + " needs a value");
      return v;
    };
    const auto flag = [&] {
      if (inlineValue) throw std::invalid_argument(option + " takes no value");
    };
    constexpr long kMaxMillis = 24L * 3600 * 1000;
    Faults& faults = options.config.faults;
    if (option == "--help" || option == "-h") {
      flag();
      options.help = true;
    } else if (option == "--link") {
      options.link = value();
    } else if (option == "--device") {
      options.device = value();
    } else if (option == "--control") {
      options.control = value();
    } else if (option == "--deck") {
      options.deck = value();
    } else if (option == "--log") {
      options.log = value();
    } else if (option == "--auto-swipe") {
      options.config.autoSwipe = Millis(NonNegative(option, value(), kMaxMillis));
    } else if (option == "--hang-up-after") {
      options.config.hangUpAfter = Millis(NonNegative(option, value(), kMaxMillis));
    } else if (option == "--chunks") {
      faults.chunks = static_cast<int>(NonNegative(option, value(), 1000));
      if (faults.chunks < 1) throw std::invalid_argument("--chunks needs at least 1");
    } else if (option == "--chunk-delay") {
      faults.chunkDelay = Millis(NonNegative(option, value(), kMaxMillis));
    } else if (option == "--bad-swipes") {
      faults.badSwipes = static_cast<int>(NonNegative(option, value(), 1000000));
    } else if (option == "--drop-replies") {
      faults.dropReplies = static_cast<int>(NonNegative(option, value(), 1000000));
    } else if (option == "--silent") {
      flag();
      faults.silent = true;
    } else {
      throw std::invalid_argument("unknown option '" + args[i] + "'");
    }
  }
  if (!options.link.empty() && !options.device.empty()) {
    throw std::invalid_argument("--link and --device exclude each other");
  }
  return options;
}

}  // namespace cardsim
