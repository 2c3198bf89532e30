#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "app/stop_signal.h"
#include "backends/http/dashboard.h"
#include "backends/postgres/connection.h"
#include "frontends/cli/commands.h"

namespace skav::cli {

namespace {

struct DashboardCommand {
  std::string url;
  std::string listen = "127.0.0.1:8080";
  std::string day_start = "00:00";
  std::string token_file;
  std::string tls_cert, tls_key;
  int live_clients = 100;
};

// The token: the file's first line without its surrounding white space.
bool read_token(const std::string& path, std::string& token) {
  std::ifstream file(path);
  if (!file) return false;
  std::getline(file, token);
  const char* space = " \t\r\n";
  token.erase(0, token.find_first_not_of(space));
  token.erase(token.find_last_not_of(space) + 1);
  return !token.empty();
}

int dashboard(const DashboardCommand& command) {
  if (Status checked = postgres::check_url(command.url); !checked.ok()) {
    std::fprintf(stderr, "skav dashboard: --pool: %s\n", checked.message().c_str());
    return 1;
  }
  http::DashboardOptions options;
  options.url = command.url;
  options.live_clients = command.live_clients;
  std::optional<http::Listen> listen = http::parse_listen(command.listen);
  if (!listen) {
    std::fprintf(stderr, "skav dashboard: --listen takes ADDRESS:PORT, e.g. 127.0.0.1:8080\n");
    return 1;
  }
  options.listen = *listen;
  if (!http::parse_day_start(command.day_start, options.day_hour, options.day_minute)) {
    std::fprintf(stderr, "skav dashboard: --day-start takes HH:MM, e.g. 06:00\n");
    return 1;
  }
  if (command.tls_cert.empty() != command.tls_key.empty()) {
    std::fprintf(stderr, "skav dashboard: --tls-cert and --tls-key go together\n");
    return 1;
  }
  options.tls_cert = command.tls_cert;
  options.tls_key = command.tls_key;
  if (!command.token_file.empty() && !read_token(command.token_file, options.token)) {
    std::fprintf(stderr, "skav dashboard: cannot read a token from %s\n", command.token_file.c_str());
    return 1;
  }
  if (!listen->loopback && options.token.empty()) {
    std::fprintf(stderr, "skav dashboard: listening on %s needs --token-file: any PC of the network "
                 "could read the line\n", listen->host.c_str());
    return 1;
  }
  const bool tls = !options.tls_cert.empty();
  if (!listen->loopback && !tls)
    std::fprintf(stderr, "skav dashboard: warning: plain HTTP on %s: the token and the line travel "
                 "unencrypted (--tls-cert, --tls-key)\n", listen->host.c_str());
  http::Dashboard served(options);
  if (Status bound = served.bind(); !bound.ok()) {
    std::fprintf(stderr, "skav dashboard: %s\n", bound.message().c_str());
    return 1;
  }
  std::printf("skav dashboard: %s://%s:%d/ for %s\n", tls ? "https" : "http",
              listen->host.find(':') != std::string::npos ? ("[" + listen->host + "]").c_str() : listen->host.c_str(),
              served.port(), postgres::describe_url(options.url).c_str());
  std::fflush(stdout);
  const std::atomic<bool>& interrupted = app::install_stop_signals();
  std::thread serving([&served] { served.serve(); });
  while (!interrupted.load()) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  served.stop();
  serving.join();
  return 0;
}

}  // namespace

void add_dashboard_command(CLI::App& app, int& exit_code) {
  auto options = std::make_shared<DashboardCommand>();
  CLI::App* command = app.add_subcommand("dashboard", "Serve the line's dashboard from its database");
  command->add_option("--pool", options->url, "postgresql://... (a role that may SELECT suffices)")->required();
  command->add_option("--listen", options->listen, "ADDRESS:PORT (default 127.0.0.1:8080)");
  command->add_option("--day-start", options->day_start, "HH:MM: when the day's figures start (default 00:00)");
  command->add_option("--token-file", options->token_file,
                      "A file whose first line is the token a browser signs in with (needed off loopback)");
  command->add_option("--tls-cert", options->tls_cert, "Serve HTTPS with this certificate (PEM)");
  command->add_option("--tls-key", options->tls_key, "... and this private key (PEM)");
  command->add_option("--live-clients", options->live_clients, "Live pages at most (default 100)")
      ->check(CLI::Range(1, 1000));
  command->callback([options, &exit_code] { exit_code = dashboard(*options); });
}

}  // namespace skav::cli
