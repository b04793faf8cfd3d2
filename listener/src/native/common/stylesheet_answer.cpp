// The stylesheet that shows the record list in a browser.
#include "resources.h"
#include "response_parts.h"

namespace zorbel::tavish {

Answer render_stylesheet()
{
    static constexpr const char *lines[] = {
        "<html xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" xsl:version=\"1.0\">\n",
        "  <body>\n",
        "    <table border=\"2\" bgcolor=\"yellow\">\n",
        "      <tr>\n",
        "        <th>Zorbels Exposed By This Agent</th>\n",
        "      </tr>\n",
        "      <xsl:for-each select=\"zorbels/link\">\n",
        "      <tr>\n",
        "        <td>\n",
        "          <a>\n",
        "            <xsl:attribute name=\"href\">\n",
        "              <xsl:value-of select=\"@href\" />\n",
        "            </xsl:attribute>\n",
        "            <xsl:value-of select=\"@href\" />\n",
        "          </a>\n",
        "        </td>\n",
        "      </tr>\n",
        "      </xsl:for-each>\n",
        "    </table>\n",
        "  </body>\n",
        "</html>\n",
    };
    Answer a = xml_answer();
    for (const char *line : lines)
        a.add(line);
    return a;
}

}  // namespace zorbel::tavish

void handle_http_get_zorbel_list_xsl(int sockfd)
{
    zorbel::tavish::send_answer(sockfd, zorbel::tavish::render_stylesheet());
}
