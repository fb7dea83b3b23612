#include "daemon/providers/bookends_help.h"

#include <map>

namespace qd::bookends {

const std::string& helpText() {
  static const std::string text = R"(BOOKENDS TOOL - Reference management with Bookends

LIBRARY & SELECTION:
- library_info: Name of the front library window
  Example: {"operation": "library_info"}
- selected: Publications selected in the front library window (id and title)
  Example: {"operation": "selected"}

SEARCH OPERATIONS:
- search: Find publications
  Parameters: query (required), searchType (all, title, author, keywords, journal, publisher, notes, doi, year, sql; default: all)
  Example: {"operation": "search", "query": "climate", "searchType": "title"}

GET DATA:
- list / get: Publications of the library as JSON
  Parameters: limit (default: 100), fields (default: id, title, authors, journal, publicationDateString, doi, citekey)
  Example: {"operation": "list", "limit": 10, "fields": ["id", "title", "doi"]}
- format: Formatted references for publication IDs
  Parameters: publicationIds (required), formatName (e.g. 'APA 6th Edition.fmt'), outputFormat (plain text, RTF, BibTeX, HTML, Markdown; default: plain text)
  Example: {"operation": "format", "publicationIds": ["12345"], "formatName": "APA 6th Edition.fmt"}
- groups: Groups of the library with their color index
  Example: {"operation": "groups"}
- attachments: Attachments of one publication (name and path)
  Parameters: publicationId (required)
  Example: {"operation": "attachments", "publicationId": "12345"}
- pdf_info: The PDF on display, with the selected text and links
  Example: {"operation": "pdf_info"}

WRITE OPERATIONS (Not Yet Implemented):
- create, update, delete, quick_add, create_group, add_to_group, remove_from_group

Use operation='help' with query='TOPIC' for detailed help on a specific operation.)";
  return text;
}

std::optional<std::string> topicHelp(const std::string& topic) {
  static const std::map<std::string, std::string> topics{
      {"search", R"(SEARCH OPERATIONS:
Find publications in the front library window.

Parameters:
- query (required): the text to look for
- searchType (optional, default: all):
  - all: title, authors, keywords and notes
  - title, author, keywords, journal, publisher, notes, doi, year: that field only
  - sql: the query is a Bookends SQL search string

Example: {"operation": "search", "query": "Smith", "searchType": "author"}
The reply lists each match as id=<id> | title=<title>.)"},
      {"format", R"(FORMAT REFERENCES:
Format publications with a Bookends citation style.

Parameters:
- publicationIds (required): list of publication IDs
- formatName (optional): citation style, for example "APA 6th Edition.fmt", "Vancouver.fmt", "Nature.fmt", "Chicago.fmt", "MLA.fmt", "BibTeX.fmt"
- outputFormat (optional, default: plain text): plain text, RTF, BibTeX, HTML, Markdown

Example: {"operation": "format", "publicationIds": ["12345", "67890"], "formatName": "Vancouver.fmt", "outputFormat": "plain text"})"},
      {"list", R"(GET PUBLICATIONS:
List publications of the front library window as a JSON array ("get" is the same operation).

Parameters:
- limit (optional, default: 100): the most publications to return
- fields (optional): the fields of each publication

Available fields: id, type, title, authors, editors, journal, abstract, notes, keywords, pages, publicationDateString, publisher, volume, location, shortTitle, url, doi, pmid, isbn, citekey, rating, labelColor, attachments, dateAdded, dateModified, language, user1 to user20
Default fields: id, title, authors, journal, publicationDateString, doi, citekey

Example: {"operation": "list", "limit": 25, "fields": ["id", "title", "citekey"]})"},
  };
  const auto it = topics.find(topic);
  if (it == topics.end()) return std::nullopt;
  return it->second;
}

}  // namespace qd::bookends
