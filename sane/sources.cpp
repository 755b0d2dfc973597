// The scan sources (see sources.h).
#include "sources.h"

#include <algorithm>

namespace qrx::sane {
namespace {

std::vector<SANE_Word> word_list(const std::vector<uint16_t>& resolutions, uint16_t lowest) {
  std::vector<SANE_Word> list = {0};
  for (uint16_t dpi : resolutions) {
    if (dpi >= lowest) list.push_back(dpi);
  }
  list[0] = static_cast<SANE_Word>(list.size() - 1);
  return list;
}

}  // namespace

bool Source::offers(SANE_Word dpi) const {
  return std::find(resolutions.begin() + 1, resolutions.end(), dpi) != resolutions.end();
}

std::vector<Source> sources_of(const qrxscan::Abilities& abilities) {
  std::vector<Source> sources(1);
  Source& flatbed = sources.front();
  flatbed.area = {abilities.area_unit, abilities.glass_width, abilities.glass_length, 0, 0};
  flatbed.resolutions = word_list(abilities.resolutions, 0);
  if (abilities.has_film_area()) {
    Source film;
    film.name = kFilmSource;
    film.light = QRX_LAMP_FILM;
    film.film = true;
    film.area = {abilities.area_unit, abilities.film_width, abilities.film_length, abilities.film_x,
                 abilities.film_y};
    film.resolutions = word_list(abilities.resolutions, kLowestFilmDpi);
    if (film.resolutions.size() > 1) sources.push_back(std::move(film));
  }
  return sources;
}

}  // namespace qrx::sane
